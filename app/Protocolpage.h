#pragma once
#include <QWidget>
class TPageHost;
class TProtocolPage : public QWidget {
    Q_OBJECT
public:
    TProtocolPage(TPageHost& host, QWidget* parent = nullptr) : QWidget(parent), Host(host) {}
private:
    TPageHost& Host;
};
