#pragma once
#include <cstdint>

#include <QWidget>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// The panel of one CAN channel: its bit rate, its mode and the open/close
// button. It only presents state; the window connects its own handlers to the
// controls' signals (cbCanRate/cbCanMode: activated, btPort: clicked) and
// learns the channel from the control through ChannelIndexOf(sender()).
class TfrChannelMan : public QWidget {
    Q_OBJECT
public:
    // Size of the panel as designed; the main window uses it 144 wide.
    static constexpr int kDesignWidth = 169;
    static constexpr int kDesignHeight = 124;
    // Name of the dynamic property that carries the channel index on the
    // panel and on cbCanRate, cbCanMode and btPort.
    static constexpr const char* kTagProperty = "tag";

    explicit TfrChannelMan(QWidget* parent = nullptr);

    // Stores the channel index in the panel and in its three controls.
    void SetChannelIndex(int32_t index);
    int32_t ChannelIndex() const { return Index; }
    void SetCaption(const QString& text);
    // Compact: no channel number in the caption (single-channel adapter).
    // The button caption follows at the next SetOpened.
    void SetCompact(bool value);
    bool Compact() const { return IsCompact; }
    // Button caption from Compact and Opened; the rate box is enabled only
    // while closed, the mode box always.
    void SetOpened(bool value);
    bool Opened() const { return IsOpened; }

    // The channel index carried by a control of a panel; -1 for anything else.
    static int32_t ChannelIndexOf(const QObject* control);

    QSize sizeHint() const override { return {kDesignWidth, kDesignHeight}; }

    QGroupBox* gbMain;
    QGroupBox* gbCanSettings;
    QLabel* Label3;
    QComboBox* cbCanRate;
    QLabel* Label2;
    QComboBox* cbCanMode;
    QPushButton* btPort;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlaceControls();

    int32_t Index = 0;
    bool IsCompact = false;
    bool IsOpened = false;
};
