// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QBarSeries;
class QBarSet;
class QCategoryAxis;
class QChart;
class QChartView;
class QValueAxis;
QT_END_NAMESPACE

namespace tovrin3 {

// The bar chart control of the main window. The window speaks to it in rows: one bar per row,
// its label under it and its value as the bar's height. The chart chooses how many rows share
// one axis label and tick so that labels never overlap.
class ChannelChart : public QWidget
{
    Q_OBJECT

public:
    explicit ChannelChart(QWidget *parent = nullptr);

    // Replaces every bar: rowLabels.size() bars, rowLabels[i] under bar i with height values[i].
    void setRows(const QStringList &rowLabels, const QList<double> &values);

    int rowCount() const;
    QStringList rowLabels() const;
    QList<double> values() const;

    // Every labelStep()-th row carries a label and a tick on the row axis.
    int labelStep() const { return m_labelStep; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void setUpChart();
    void showBackground();
    void setUpAxes();
    void setBarValues(const QList<double> &values);
    void fitValueAxis(const QList<double> &values);
    void fitToPlotWidth();
    void fitBarWidth();
    int fittingLabelStep() const;
    qreal rowWidth() const;
    void relabelRowAxis();

    QChart *m_chart = nullptr;
    QChartView *m_view = nullptr;
    QBarSeries *m_series = nullptr;
    QBarSet *m_bars = nullptr;
    QCategoryAxis *m_rowAxis = nullptr;
    QValueAxis *m_valueAxis = nullptr;
    QStringList m_rowLabels;
    int m_labelStep = 1;
};

} // namespace tovrin3
