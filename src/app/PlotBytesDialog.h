#pragma once
#include <QDialog>
#include <optional>

#include "plot/PlotSource.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QSpinBox;

// "Plot bytes...": a raw field of one identifier to plot without a database,
// a whole byte or a bit range with its byte order and sign. The start bit is
// counted as a DBC file counts it, so a field found here can be written into
// one: the least significant bit for Intel (little-endian), the most
// significant bit for Motorola (big-endian).
class TPlotBytesDialog : public QDialog {
    Q_OBJECT
public:
    TPlotBytesDialog(uint32_t id, bool extended, QWidget* parent = nullptr);

    // The field the dialog describes, or nothing (with the reason shown) when its bits do not fit.
    std::optional<TPlotSource> Source();

    QRadioButton* rbByte = nullptr;
    QRadioButton* rbBits = nullptr;
    QSpinBox* seByte = nullptr;
    QSpinBox* seStartBit = nullptr;
    QSpinBox* seLength = nullptr;
    QComboBox* cbByteOrder = nullptr;
    QCheckBox* chSigned = nullptr;

private:
    void Check();

    uint32_t Id;
    bool Extended;
    QLabel* lbProblem = nullptr;
};
