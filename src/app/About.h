#pragma once
#include <functional>
#include <string>

#include <QDialog>
#include <QUrl>

class QLabel;
class QPushButton;
class QWidget;

// "1.2" for version 1.2; "???" when the version is not known.
std::string FormatVersionText(int major, int minor, bool known);
// The program's version as the About box shows it ("0.98"), from the build.
std::string GetVersionText();

// The About dialog: title, adapter, version, contact lines and a link to the
// program's documentation.
class TfmAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kSiteUrl = "https://tarvenix.invalid/canmonitor/docs";

    explicit TfmAbout(QWidget* parent = nullptr);

    // Opens the link; replaceable so that tests can watch the clicks.
    // Defaults to the desktop's browser. A failure to open is not reported.
    std::function<void(const QUrl&)> OpenUrl;

    // Handler of a click on the link: hands the address to OpenUrl; the
    // dialog stays open.
    void lbSiteLinkClick();

    QLabel* Panel1;
    QLabel* lbSubversion;
    QWidget* Panel2;
    QLabel* lbVersion;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* lbSiteLink;
    QLabel* lbFilesDir; // the folder of the settings file and the transmit list
    QPushButton* btOK;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
