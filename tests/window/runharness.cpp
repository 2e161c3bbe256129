#include "runharness.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QToolButton>

void planGrid(BoxFixture& f, const Grid& grid)
{
    TempSensor* w = f.window.get();
    auto set = [w](const char* name, double value) {
        findIn<QDoubleSpinBox>(w, name)->setValue(value);
    };
    findIn<QGroupBox>(w, "useT")->setChecked(grid.useT);
    findIn<QGroupBox>(w, "useP")->setChecked(grid.useP);
    // The range first, so no value is clamped by an old one.
    set("autoTdeltaEdit", grid.tStep);
    set("autoTminEdit", grid.tFrom);
    set("autoTmaxEdit", grid.tTo);
    set("autoPdeltaEdit", grid.pStep);
    set("autoPminEdit", grid.pFrom);
    set("autoPmaxEdit", grid.pTo);
    if (findIn<QCheckBox>(w, "rpBox")->isChecked() != grid.referencePoint) {
        f.dialogs.pushAccept(grid.refP);
        f.dialogs.pushAccept(grid.refT);
        findIn<QCheckBox>(w, "rpBox")->setChecked(grid.referencePoint);
    }
}

void chooseLog(BoxFixture& f, const QString& path, const QString& filter)
{
    ScriptedDialogs::Answer answer;
    answer.value = path;
    answer.selectedFilter = filter;
    f.dialogs.push(answer);
    findIn<QGroupBox>(f.window.get(), "groupBox_4")->setChecked(true);
}

bool isRunning(BoxFixture& f)
{
    return findIn<QToolButton>(f.window.get(), "autoStartButton")->isChecked();
}

bool runToEnd(BoxFixture& f, int timeoutMs)
{
    auto* start = findIn<QToolButton>(f.window.get(), "autoStartButton");
    start->setChecked(true);
    return BoxFixture::waitUntil([start] { return !start->isChecked(); }, timeoutMs);
}
