#include "liveview.h"

#include "settingskeys.h"

#include "operatordialogs.h"
#include "readingsexport.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kRedrawMs = 500; // at most twice a second

const QColor kDoneColour(0x39, 0xdb, 0x26);
const QColor kCurrentColour(0xed, 0xf9, 0x24);
const QColor kWaitingColour(Qt::white);
const QColor kRecordColour(0x20, 0x90, 0x20);
const QColor kWarningColour(Qt::red);
constexpr int kMarkSize = 9;

// Pixels a tick label needs: a time label is wider than it is tall.
constexpr int kPixelsPerTimeTick = 90;
constexpr int kPixelsPerValueTick = 28;

// Ticks on a category axis: each category ends at a tick and its label sits
// there. Rebuilt only when the ticks moved.
void applyScale(QCategoryAxis* axis, const chartscale::Scale& scale)
{
    axis->setRange(scale.min, scale.max);
    const QStringList labels = axis->categoriesLabels();
    bool same = labels.size() == int(scale.ticks.size());
    for (int i = 0; same && i < labels.size(); ++i)
        same = labels[i] == scale.ticks[std::size_t(i)].label &&
               axis->endValue(labels[i]) == scale.ticks[std::size_t(i)].at;
    if (!same) {
        for (const QString& label : labels)
            axis->remove(label);
    }
    if (axis->startValue() != scale.min)
        axis->setStartValue(scale.min);
    if (!same) {
        for (const chartscale::Tick& tick : scale.ticks)
            axis->append(tick.label, tick.at);
    }
}

QCategoryAxis* makeAxis()
{
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    return axis;
}

// The marks' key, drawn as the charts draw them.
QLabel* markKey(const QColor& colour, bool square, QWidget* parent)
{
    QPixmap pixmap(kMarkSize + 2, kMarkSize + 2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const QRectF mark(1, 1, kMarkSize, kMarkSize);
    if (square)
        painter.drawRect(mark);
    else
        painter.drawEllipse(mark);
    painter.end();
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    return label;
}

} // namespace

LiveView::LiveView(const history::ReadingHistory& readings, const run::RunController& controller,
                   const progress::RunTracker& tracker, QSettings& settings, Feed feed,
                   QWidget* parent)
    : QWidget(parent, Qt::Window), m_readings(readings), m_controller(controller),
      m_tracker(tracker), m_settings(settings), m_feed(std::move(feed))
{
    setObjectName(QStringLiteral("LiveView"));
    setWindowTitle(tr("Live View"));
    resize(1000, 720);

    m_phase = new QLabel(this);
    m_phase->setObjectName(QStringLiteral("phaseLabel"));
    QFont bold = m_phase->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_phase->setFont(bold);
    m_points = new QLabel(this);
    m_elapsed = new QLabel(this);
    m_eta = new QLabel(this);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("spanChooser"));
    m_span->addItems({tr("10 min"), tr("1 h"), tr("Whole run")});
    m_export = new QPushButton(tr("Export CSV..."), this);
    m_export->setObjectName(QStringLiteral("exportButton"));

    auto* top = new QHBoxLayout;
    top->addWidget(m_phase, 2);
    top->addWidget(m_points, 1);
    top->addWidget(m_elapsed, 1);
    top->addWidget(m_eta, 1);
    top->addWidget(new QLabel(tr("Span:"), this));
    top->addWidget(m_span);
    top->addWidget(m_export);

    auto* charts = new QVBoxLayout;
    m_charts[0] = makeChart(tr("Temperature, °C"), tr("T"), tr("T set"));
    m_charts[1] = makeChart(tr("Pressure"), tr("P"), tr("P set"));
    m_charts[2] = makeChart(tr("Gas flows, slpm"), tr("N2"), tr("O2"));
    for (Chart& chart : m_charts)
        charts->addWidget(chart.view, 1);
    // The marks are the same on every chart, so their key is given once.
    m_marksLegend = new QWidget(this);
    m_marksLegend->setObjectName(QStringLiteral("marksLegend"));
    m_marksLegend->setToolTip(tr("Marked on the time axis of every chart"));
    auto* marks = new QHBoxLayout(m_marksLegend);
    marks->setContentsMargins(8, 0, 8, 0);
    marks->addStretch(1);
    marks->addWidget(markKey(kRecordColour, false, m_marksLegend));
    marks->addWidget(new QLabel(tr("Record"), m_marksLegend));
    marks->addSpacing(16);
    marks->addWidget(markKey(kWarningColour, true, m_marksLegend));
    marks->addWidget(new QLabel(tr("Warning"), m_marksLegend));
    charts->addWidget(m_marksLegend);

    m_grid = new QTableWidget(this);
    m_grid->setObjectName(QStringLiteral("progressGrid"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::NoSelection);
    // Columns as wide as their pressure headings.
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_grid->horizontalHeader()->setMinimumSectionSize(40);
    m_grid->verticalHeader()->setDefaultSectionSize(20);
    // The reference row's heading takes two lines.
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_grid->setMinimumWidth(220);
    auto* gridColumn = new QVBoxLayout;
    gridColumn->addWidget(m_grid);
    gridColumn->addStretch(1);

    auto* middle = new QHBoxLayout;
    middle->addLayout(charts, 4);
    middle->addLayout(gridColumn, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);

    connect(m_span, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        m_drawn.forced = true;
        refresh();
    });
    connect(m_export, &QPushButton::clicked, this, [this] { exportCsv(); });
    m_timer.setInterval(kRedrawMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
}

LiveView::~LiveView() = default;

LiveView::Chart LiveView::makeChart(const QString& title, const QString& first,
                                    const QString& second)
{
    Chart c;
    c.chart = new QChart;
    c.chart->setTitle(title);
    c.chart->setMargins(QMargins(4, 2, 4, 2));
    c.chart->legend()->setAlignment(Qt::AlignRight);
    // Redraws come twice a second at most; animations would only cost CPU.
    c.chart->setAnimationOptions(QChart::NoAnimation);
    c.time = makeAxis();
    c.values = makeAxis();
    c.chart->addAxis(c.time, Qt::AlignBottom);
    c.chart->addAxis(c.values, Qt::AlignLeft);
    const QString names[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        c.lines[i] = new QLineSeries;
        c.lines[i]->setName(names[i]);
        c.chart->addSeries(c.lines[i]);
    }
    // A set point is drawn dashed; two flows both solid.
    if (second.endsWith(QLatin1String("set"))) {
        QPen pen = c.lines[1]->pen();
        pen.setStyle(Qt::DashLine);
        pen.setColor(Qt::darkGray);
        c.lines[1]->setPen(pen);
    }
    c.records = new QScatterSeries;
    c.records->setName(tr("Record"));
    c.records->setMarkerSize(kMarkSize);
    c.records->setColor(kRecordColour);
    c.records->setBorderColor(kRecordColour);
    c.warnings = new QScatterSeries;
    c.warnings->setName(tr("Warning"));
    c.warnings->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    c.warnings->setMarkerSize(kMarkSize);
    c.warnings->setColor(kWarningColour);
    c.warnings->setBorderColor(kWarningColour);
    c.chart->addSeries(c.records);
    c.chart->addSeries(c.warnings);
    for (auto* s : c.chart->series()) {
        s->attachAxis(c.time);
        s->attachAxis(c.values);
    }
    // The view's own key below the charts stands for the marks.
    for (auto* marks : {c.records, c.warnings}) {
        for (auto* marker : c.chart->legend()->markers(marks))
            marker->setVisible(false);
    }
    c.view = new QChartView(c.chart, this);
    c.view->setRenderHint(QPainter::Antialiasing, false);
    c.view->setMinimumHeight(150);
    return c;
}

void LiveView::showEvent(QShowEvent* event)
{
    if (!m_geometryRestored) {
        m_geometryRestored = true;
        restoreGeometry(
            m_settings.value(QLatin1String(settingskeys::kLiveViewGeometry)).toByteArray());
    }
    QWidget::showEvent(event);
    m_drawn.forced = true;
    refresh();
    m_timer.start();
}

void LiveView::hideEvent(QHideEvent* event)
{
    // Nothing is drawn for a hidden window.
    m_timer.stop();
    saveGeometryToSettings();
    QWidget::hideEvent(event);
}

void LiveView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The thinning follows the plot's width; the timer redraws.
    m_drawn.forced = true;
}

void LiveView::saveGeometryToSettings()
{
    m_settings.setValue(QLatin1String(settingskeys::kLiveViewGeometry), saveGeometry());
}

void LiveView::refresh()
{
    // The phase text also follows the pulse sequence and a repeated point.
    const int phase = int(m_controller.phase()) * 8 + int(m_feed.pulseStage()) * 2 +
                      (m_controller.repeatingPoint() ? 1 : 0);
    const int span = m_span->currentIndex();
    const bool changed = m_drawn.forced || m_drawn.lastMs != m_readings.lastMs() ||
                         m_drawn.events != m_readings.eventsAdded() || m_drawn.phase != phase ||
                         m_drawn.done != m_tracker.pointsDone() || m_drawn.span != span ||
                         m_feed.unitLabel() != m_lastUnit;
    if (!changed || !isVisible())
        return;
    m_drawn = {
        m_readings.lastMs(), m_readings.eventsAdded(), phase, m_tracker.pointsDone(), span, false};
    m_lastUnit = m_feed.unitLabel();
    redraw();
}

void LiveView::redraw()
{
    ++m_redraws;
    static_assert(int(chartscale::Span::WholeRun) == WholeRun, "the chooser's order");
    chartscale::WindowInputs in;
    in.span = chartscale::Span(m_span->currentIndex());
    in.nowMs = m_feed.nowMs();
    in.firstReadingMs = m_readings.firstMs();
    in.lastReadingMs = m_readings.lastMs();
    if (m_tracker.started()) {
        in.runStartMs = m_tracker.startMs();
        in.runEndMs = m_tracker.endMs();
    }
    const chartscale::Window window = chartscale::timeWindow(in);
    const double factor = m_feed.unitFactor();
    m_charts[1].chart->setTitle(tr("Pressure, %1").arg(m_feed.unitLabel()));
    // Flat readings are shown half a degree, a tenth of a bar or a fifth of
    // a litre a minute high.
    drawChart(m_charts[0], history::Temperature, history::TemperatureSet, 1.0, 0.5, window);
    drawChart(m_charts[1], history::Pressure, history::PressureSet, factor, 0.1 * factor, window);
    drawChart(m_charts[2], history::N2, history::O2, 1.0, 0.2, window);
    drawProgress();
}

void LiveView::drawChart(Chart& c, history::Channel first, history::Channel second, double factor,
                         double minSpan, const chartscale::Window& window)
{
    const qint64 fromMs = window.fromMs, toMs = window.toMs;
    const QRectF plot = c.chart->plotArea();
    const int buckets = std::max(100, int(plot.width()));
    double lo = INFINITY, hi = -INFINITY;
    const history::Channel channels[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        const auto points = history::thinned(m_readings, channels[i], fromMs, toMs, buckets);
        QVector<QPointF> line;
        line.reserve(int(points.size()));
        for (const auto& p : points) {
            const double y = double(p.value) * factor;
            line.append(QPointF(double(p.atMs), y));
            lo = std::min(lo, y);
            hi = std::max(hi, y);
        }
        c.lines[i]->replace(line);
    }
    if (!(lo <= hi)) {
        lo = 0;
        hi = 0;
    }
    const chartscale::Scale values = chartscale::valueScale(
        lo, hi, std::clamp(int(plot.height()) / kPixelsPerValueTick, 3, 8), minSpan);
    lo = values.min;
    // The marks sit on the time axis, at the foot of the plot.
    QVector<QPointF> records, warnings;
    for (const history::Event& e : m_readings.events()) {
        if (e.atMs < fromMs || e.atMs > toMs)
            continue;
        (e.kind == history::EventKind::Record ? records : warnings)
            .append(QPointF(double(e.atMs), lo));
    }
    c.records->replace(records);
    c.warnings->replace(warnings);
    const int utcOffsetS = QDateTime::fromMSecsSinceEpoch(toMs).offsetFromUtc();
    applyScale(c.time, chartscale::timeScale(
                           fromMs, toMs, std::clamp(int(plot.width()) / kPixelsPerTimeTick, 3, 10),
                           utcOffsetS));
    applyScale(c.values, values);
}

void LiveView::drawProgress()
{
    const progress::PhaseInputs inputs{m_controller.phase(), m_controller.repeatingPoint(),
                                       m_feed.pulseStage()};
    m_phase->setText(progress::phaseText(inputs));
    if (!m_tracker.started()) {
        m_points->setText(tr("No run yet"));
        m_elapsed->clear();
        m_eta->clear();
        m_grid->setRowCount(0);
        m_grid->setColumnCount(0);
        return;
    }
    const run::Plan& plan = m_tracker.plan();
    const progress::Grid grid = m_tracker.grid();
    const qint64 now = m_feed.nowMs();
    m_points->setText(tr("Points: %1 of %2").arg(m_tracker.pointsDone()).arg(grid.allPoints()));
    const qint64 until = m_tracker.active() ? now : m_tracker.endMs();
    m_elapsed->setText(tr("Elapsed: %1").arg(progress::durationText(until - m_tracker.startMs())));
    if (m_tracker.active()) {
        const progress::Estimate e = progress::estimateRemaining(
            progress::fixedWaitsPerPoint(plan, m_feed.fixedWaits()), m_tracker.pointsDone(),
            m_tracker.startMs(), m_tracker.lastPointMs(), now);
        m_eta->setText((e.measured ? tr("To the end: %1") : tr("To the end: over %1"))
                           .arg(progress::durationText(e.remainingMs)));
    } else {
        m_eta->setText(tr("Ended"));
    }

    const int rows = grid.temperatures + (grid.referencePoint ? 1 : 0);
    if (m_grid->rowCount() != rows || m_grid->columnCount() != grid.pressures) {
        m_grid->clear();
        m_grid->setRowCount(rows);
        m_grid->setColumnCount(grid.pressures);
    }
    const progress::GridHeadings headings =
        progress::gridHeadings(plan, m_feed.unitFactor(), m_feed.unitLabel());
    m_grid->setVerticalHeaderLabels(headings.rows);
    m_grid->setHorizontalHeaderLabels(headings.columns);
    // Sized now, so the grid's size hint follows the new headings at once.
    m_grid->resizeColumnsToContents();
    m_grid->resizeRowsToContents();
    // Wide enough for every column up to a point; beyond it the grid scrolls.
    const int wanted = m_grid->verticalHeader()->sizeHint().width() +
                       m_grid->horizontalHeader()->length() + 2 * m_grid->frameWidth() + 2;
    const int width = std::clamp(wanted, 220, 400);
    m_grid->setMinimumWidth(width);
    // No taller than its rows: a small grid leaves no empty table below.
    m_grid->setMaximumHeight(
        m_grid->horizontalHeader()->sizeHint().height() + m_grid->verticalHeader()->length() +
        2 * m_grid->frameWidth() +
        (wanted > width ? m_grid->horizontalScrollBar()->sizeHint().height() : 0));
    const int done = m_tracker.gridPointsDone();
    for (int r = 0; r < rows; ++r) {
        const bool reference = r == grid.temperatures;
        for (int c = 0; c < grid.pressures; ++c) {
            QTableWidgetItem* item = m_grid->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignCenter);
                m_grid->setItem(r, c, item);
            }
            if (reference && c > 0) {
                item->setBackground(palette().window());
                item->setText(QString());
                item->setData(Qt::UserRole, QVariant());
                continue;
            }
            const progress::PointState state =
                progress::pointState(grid, done, m_tracker.active(), m_tracker.referenceUnderWay(),
                                     m_tracker.referenceDone(), reference ? -1 : r, c);
            static const QColor colours[] = {kWaitingColour, kCurrentColour, kDoneColour};
            static const char* const marks[] = {"", "\u25B6", "\u2713"};
            item->setBackground(colours[int(state)]);
            item->setText(QString::fromUtf8(marks[int(state)]));
            item->setData(Qt::UserRole, int(state));
            if (reference)
                item->setToolTip(headings.rows.value(r));
        }
    }
}

void LiveView::exportCsv()
{
    QString filter = QStringLiteral("*.csv");
    const QString path = OperatorDialogs::instance().getSaveFileName(
        this, tr("Export the readings"), QDir::homePath(), QStringLiteral("*.csv"), &filter,
        QFileDialog::Options());
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray bytes = records::readingsCsv(m_readings, m_feed.unitFactor());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        OperatorDialogs::instance().warning(
            this, tr("Live View"), tr("Can't write %1").arg(QDir::toNativeSeparators(path)),
            QMessageBox::Ok, QMessageBox::NoButton);
}

int LiveView::pointCount(SeriesId id) const
{
    switch (id) {
    case TemperatureLine:
        return m_charts[0].lines[0]->count();
    case TemperatureSetLine:
        return m_charts[0].lines[1]->count();
    case PressureLine:
        return m_charts[1].lines[0]->count();
    case PressureSetLine:
        return m_charts[1].lines[1]->count();
    case N2Line:
        return m_charts[2].lines[0]->count();
    case O2Line:
        return m_charts[2].lines[1]->count();
    case RecordMarks:
        return m_charts[0].records->count();
    case WarningMarks:
        return m_charts[0].warnings->count();
    }
    return 0;
}

QStringList LiveView::tickLabels(int chart, Qt::Orientation axis) const
{
    const Chart& c = m_charts[chart];
    return (axis == Qt::Horizontal ? c.time : c.values)->categoriesLabels();
}

QString LiveView::phaseText() const
{
    return m_phase->text();
}
