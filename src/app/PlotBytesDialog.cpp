#include "app/PlotBytesDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "core/CanText.h"

namespace {

template <class T> T* Named(T* widget, const char* name, const QString& accessible)
{
    widget->setObjectName(name);
    widget->setAccessibleName(accessible);
    return widget;
}

} // namespace

TPlotBytesDialog::TPlotBytesDialog(uint32_t id, bool extended, QWidget* parent)
    : QDialog(parent), Id(id), Extended(extended)
{
    setWindowTitle("Plot bytes of " + QString::fromStdString(FormatCanId(id, !extended)));
    setAccessibleName("Plot bytes");
    auto* fill = new QVBoxLayout(this);
    // The frame named in the dialog too: not every desktop shows a dialog's title.
    auto* heading = Named(new QLabel("<b>" + windowTitle() + "</b>"), "lbPlotBytesFrame", "Frame");
    fill->addWidget(heading);
    rbByte = Named(new QRadioButton("A byte"), "rbPlotByte", "Plot a whole byte");
    rbBits = Named(new QRadioButton("A bit range"), "rbPlotBits", "Plot a bit range");
    rbByte->setChecked(true);
    seByte = Named(new QSpinBox, "sePlotByte", "Byte number");
    seByte->setRange(0, 7);
    seStartBit = Named(new QSpinBox, "sePlotStartBit", "Start bit");
    seStartBit->setRange(0, 63);
    seLength = Named(new QSpinBox, "sePlotLength", "Length in bits");
    seLength->setRange(1, 64);
    seLength->setValue(8);
    cbByteOrder = Named(new QComboBox, "cbPlotByteOrder", "Byte order");
    cbByteOrder->addItems({"Intel (little-endian)", "Motorola (big-endian)"});
    chSigned = Named(new QCheckBox("Signed (two's complement)"), "chPlotSigned", "Signed");

    auto* byteForm = new QFormLayout;
    byteForm->addRow(rbByte);
    byteForm->addRow("Byte (0 = first):", seByte);
    byteForm->addRow(rbBits);
    byteForm->addRow("Start bit:", seStartBit);
    byteForm->addRow("Length (bits):", seLength);
    byteForm->addRow("Byte order:", cbByteOrder);
    byteForm->addRow(chSigned);
    fill->addLayout(byteForm);
    auto* hint = new QLabel("The start bit counts as in a DBC file: bit 0 is the lowest bit of byte 0; Intel "
                            "starts at the field's lowest bit, Motorola at its highest.");
    hint->setWordWrap(true);
    fill->addWidget(hint);
    lbProblem = Named(new QLabel, "lbPlotBytesProblem", "Problem");
    lbProblem->setStyleSheet("color: #b00020");
    lbProblem->setWordWrap(true);
    fill->addWidget(lbProblem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText("Plot");
    buttons->button(QDialogButtonBox::Ok)->setAccessibleName("Plot");
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName("Cancel");
    fill->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (Source())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QRadioButton* r : {rbByte, rbBits})
        connect(r, &QRadioButton::toggled, this, &TPlotBytesDialog::Check);
    Check();
}

void TPlotBytesDialog::Check()
{
    const bool bits = rbBits->isChecked();
    seByte->setEnabled(!bits);
    for (QWidget* w : std::initializer_list<QWidget*>{seStartBit, seLength, cbByteOrder, chSigned})
        w->setEnabled(bits);
    lbProblem->clear();
}

std::optional<TPlotSource> TPlotBytesDialog::Source()
{
    std::string error;
    std::optional<TPlotSource> source;
    if (rbByte->isChecked())
        source = TPlotSource::RawField(Id, Extended, static_cast<uint32_t>(seByte->value()) * 8, 8,
                                       TDbcByteOrder::Intel, false, error);
    else
        source = TPlotSource::RawField(
            Id, Extended, static_cast<uint32_t>(seStartBit->value()), static_cast<uint32_t>(seLength->value()),
            cbByteOrder->currentIndex() == 0 ? TDbcByteOrder::Intel : TDbcByteOrder::Motorola, chSigned->isChecked(),
            error);
    lbProblem->setText(source ? QString() : "These bits do not fit: " + QString::fromStdString(error) + ".");
    return source;
}
