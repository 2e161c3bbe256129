#pragma once

#include "chartscale.h"
#include "readinghistory.h"
#include "runcontroller.h"
#include "runprogress.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSettings;
class QTableWidget;

// Qt 5 keeps the chart classes in a namespace of their own, Qt 6 does not.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
namespace QtCharts {
class QCategoryAxis;
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
} // namespace QtCharts
using QtCharts::QCategoryAxis;
using QtCharts::QChart;
using QtCharts::QChartView;
using QtCharts::QLineSeries;
using QtCharts::QScatterSeries;
#else
class QCategoryAxis;
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
#endif

// The "Live View" window: trends of the box's readings, the run's grid and
// phase, and the time to its end. It only reads the record, the run
// controller and what the window passes in; it never talks to the box.
// Redraws at most twice a second, and only when something changed.
class LiveView : public QWidget
{
    Q_OBJECT

public:
    // What only the main window knows, asked for at each redraw.
    struct Feed
    {
        std::function<double()> unitFactor;
        std::function<QString()> unitLabel;
        std::function<progress::FixedWaits()> fixedWaits;
        std::function<progress::PulseStage()> pulseStage;
        // Wall clock, ms since the epoch (tests may stop it).
        std::function<qint64()> nowMs;
    };

    enum SpanChoice
    {
        TenMinutes,
        OneHour,
        WholeRun,
    };

    LiveView(const history::ReadingHistory& readings, const run::RunController& controller,
             const progress::RunTracker& tracker, QSettings& settings, Feed feed,
             QWidget* parent = nullptr);
    ~LiveView() override;

    // Redraws now when anything changed since the last redraw.
    void refresh();
    int redraws() const { return m_redraws; }

    // For tests: the series as drawn.
    enum SeriesId
    {
        TemperatureLine,
        TemperatureSetLine,
        PressureLine,
        PressureSetLine,
        N2Line,
        O2Line,
        RecordMarks,
        WarningMarks,
    };
    int pointCount(SeriesId id) const;
    QString phaseText() const;
    // For tests: the tick labels of a chart's time (horizontal) or value axis.
    QStringList tickLabels(int chart, Qt::Orientation axis) const;
    QTableWidget* progressGrid() const { return m_grid; }
    // Into the window's settings store, also while the view is shown.
    void saveGeometryToSettings();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Chart
    {
        QChart* chart = nullptr;
        QChartView* view = nullptr;
        // Category axes: their labels are the round ticks worked out here.
        QCategoryAxis* time = nullptr;
        QCategoryAxis* values = nullptr;
        QLineSeries* lines[2] = {nullptr, nullptr};
        QScatterSeries* records = nullptr;
        QScatterSeries* warnings = nullptr;
    };

    Chart makeChart(const QString& title, const QString& first, const QString& second);
    void redraw();
    void drawChart(Chart& chart, history::Channel first, history::Channel second, double factor,
                   double minSpan, const chartscale::Window& window);
    void drawProgress();
    void exportCsv();

    const history::ReadingHistory& m_readings;
    const run::RunController& m_controller;
    const progress::RunTracker& m_tracker;
    QSettings& m_settings;
    Feed m_feed;

    Chart m_charts[3];
    QComboBox* m_span = nullptr;
    QLabel* m_phase = nullptr;
    QLabel* m_points = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_eta = nullptr;
    QPushButton* m_export = nullptr;
    QTableWidget* m_grid = nullptr;
    QWidget* m_marksLegend = nullptr;
    QTimer m_timer;

    // What the last redraw showed; a redraw with the same is skipped.
    struct Drawn
    {
        qint64 lastMs = -2;
        qint64 events = -1;
        int phase = -1;
        int done = -1;
        int span = -1;
        bool forced = true;
    } m_drawn;
    int m_redraws = 0;
    QString m_lastUnit;
    bool m_geometryRestored = false;
};
