// Kestrel: a serial-port terminal for testing and debugging devices.

#include "Appfonts.h"
#include "Unitmain.h"

#include "Handover.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    InstallHandoverFilter(&app);
    QApplication::setApplicationDisplayName("Kestrel 0.6测试版");
    QApplication::setOrganizationName("Orvane Software");
    QApplication::setApplicationName("Kestrel");
    QApplication::setFont(CaptionFont());
    try {
        TFrmMain FrmMain;
        FrmMain.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QApplication::applicationDisplayName(),
                              QString::fromUtf8(e.what()));
    }
    return 0;
}
