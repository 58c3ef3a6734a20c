#pragma once
#include <QWidget>
#include <cstdint>
class TPageHost;
class TAutoSendPage : public QWidget {
    Q_OBJECT
public:
    TAutoSendPage(TPageHost& host, QWidget* parent = nullptr) : QWidget(parent), Host(host) {}
    void CaptureStatBytes(const uint8_t*, uint32_t) {}
private:
    TPageHost& Host;
};
