// The window with ports on other machines: the map dialog checks network
// targets, and the status panel names the far end and why it cannot be reached.

#include "Dialogs.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port that nothing listens on.
uint16_t ClosedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

TEST(RemotePortWindow, ARefusedConnectionIsNamedWithTheFarEndAndTheSystemsWords) {
    const std::string target = "rfc2217://127.0.0.1:" + std::to_string(ClosedPort());
    StoreSettings(target);
    TFrmMain w;
    w.show();
    ASSERT_TRUE(WaitUntil([&] { return Part<QLabel>(w, "lblComPort")->text().contains("COM1"); }));
    EXPECT_EQ(Part<QLabel>(w, "lblComPort")->text(), "COM1: 连接被拒绝");
    const QString tip = Part<QLabel>(w, "lblComPort")->toolTip();
    EXPECT_TRUE(tip.contains("127.0.0.1:")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("RFC 2217")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Connection refused")) << tip.toStdString();

    // The other network failures each get their words.
    const std::pair<int, const char*> cases[] = {
        {EHOSTUNREACH, "主机不可达"}, {ETIMEDOUT, "连接超时"},      {ECONNRESET, "连接断开"},
        {EADDRNOTAVAIL, "主机名无法解析"}, {EINPROGRESS, "正在连接"}, {ENODEV, "地址格式错误"}};
    for (const auto& [err, words] : cases) {
        TPortErrorText t = PortErrorText(TOpenError{ceOpen, uint32_t(err), 2, "tcp://[::1]:4001"});
        EXPECT_EQ(t.Short, QString("COM2: ") + words);
        EXPECT_TRUE(t.Long.contains("[::1]:4001 (网络端口 TCP)")) << t.Long.toStdString();
    }
}

TEST(RemotePortWindow, TheMapDialogNamesAMalformedNetworkTargetAndKeepsTheMap) {
    StoreSettings("loopback");
    TFrmMain w;
    w.show();
    dialogs::RecordMessages(true);
    bool sawDialog = false;
    // The dialog is modal: it is filled in and answered from the event loop.
    QTimer::singleShot(100, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        sawDialog = true;
        auto boxes = dialog->findChildren<QComboBox*>();
        ASSERT_GE(boxes.size(), 2);
        boxes[1]->lineEdit()->clear();
        QTest::keyClicks(boxes[1]->lineEdit(), "rfc2217://lab-server");
        auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        EXPECT_TRUE(dialog->isVisible()); // refused: still open
        boxes[1]->lineEdit()->clear();
        QTest::keyClicks(boxes[1]->lineEdit(), "tcp://127.0.0.1:7001");
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QTest::mouseClick(Part<QToolButton>(w, "btnPortMap"), Qt::LeftButton);
    EXPECT_TRUE(sawDialog);
    const QStringList messages = dialogs::TakeMessages();
    dialogs::RecordMessages(false);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("COM2: ")) << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("port number is missing")) << messages[0].toStdString();
    EXPECT_EQ(Part<TSettingsPage>(w, "TabComm")->PortMap().Targets[1], "tcp://127.0.0.1:7001");
    EXPECT_TRUE(PortTargetProblem("/dev/ttyUSB0").isEmpty());
    EXPECT_TRUE(PortTargetProblem("rfc2217://[::1]:2217").isEmpty());
}

} // namespace
