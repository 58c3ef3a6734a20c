// The window grows: thin grips along its edges resize it (it has no frame of
// its own), a double click on the title strip maximises it and back, and the
// client area follows the size. At the smallest size the layout is exactly
// the fixed one built in Unitmain.cpp.

#include "ReceivePane.h"
#include "Unitmain.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTabWidget>
#include <QWindow>

namespace {

constexpr int GripWidth = 4;

// An invisible strip along an edge or a corner of a frameless window.
class TEdgeGrip : public QWidget {
public:
    TEdgeGrip(QWidget* window, Qt::Edges edges) : QWidget(window), Edges(edges) {
        const bool horizontal = edges == Qt::TopEdge || edges == Qt::BottomEdge;
        const bool vertical = edges == Qt::LeftEdge || edges == Qt::RightEdge;
        const bool falling = edges == (Qt::TopEdge | Qt::LeftEdge) ||
                             edges == (Qt::BottomEdge | Qt::RightEdge);
        setCursor(horizontal ? Qt::SizeVerCursor
                  : vertical ? Qt::SizeHorCursor
                  : falling  ? Qt::SizeFDiagCursor
                             : Qt::SizeBDiagCursor);
    }

    // Places the grip along its edge of a window of the given size.
    void Place(const QSize& size) {
        const int w = size.width(), h = size.height(), g = GripWidth, c = 3 * GripWidth;
        QRect r;
        if (Edges == Qt::LeftEdge)
            r = QRect(0, c, g, h - 2 * c);
        else if (Edges == Qt::RightEdge)
            r = QRect(w - g, c, g, h - 2 * c);
        else if (Edges == Qt::TopEdge)
            r = QRect(c, 0, w - 2 * c, g);
        else if (Edges == Qt::BottomEdge)
            r = QRect(c, h - g, w - 2 * c, g);
        else
            r = QRect((Edges & Qt::LeftEdge) ? 0 : w - c, (Edges & Qt::TopEdge) ? 0 : h - c, c, c);
        setGeometry(r);
        raise();
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || window()->isMaximized())
            return;
        // A window manager resizes the window itself; without one, we follow the mouse.
        QWindow* handle = window()->windowHandle();
        if (handle && handle->startSystemResize(Edges))
            return;
        Pressed = event->globalPosition().toPoint();
        Start = window()->geometry();
        Following = true;
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!Following)
            return;
        const QPoint d = event->globalPosition().toPoint() - Pressed;
        const QSize least = window()->minimumSize();
        QRect r = Start;
        if (Edges & Qt::LeftEdge)
            r.setLeft(std::min(Start.left() + d.x(), Start.right() + 1 - least.width()));
        if (Edges & Qt::RightEdge)
            r.setRight(std::max(Start.right() + d.x(), Start.left() + least.width() - 1));
        if (Edges & Qt::TopEdge)
            r.setTop(std::min(Start.top() + d.y(), Start.bottom() + 1 - least.height()));
        if (Edges & Qt::BottomEdge)
            r.setBottom(std::max(Start.bottom() + d.y(), Start.top() + least.height() - 1));
        window()->setGeometry(r);
    }
    void mouseReleaseEvent(QMouseEvent*) override { Following = false; }

private:
    Qt::Edges Edges;
    QPoint Pressed;
    QRect Start;
    bool Following = false;
};

} // namespace

void TFrmMain::BuildEdgeGrips() {
    const Qt::Edges all[] = {Qt::LeftEdge,
                             Qt::RightEdge,
                             Qt::TopEdge,
                             Qt::BottomEdge,
                             Qt::TopEdge | Qt::LeftEdge,
                             Qt::TopEdge | Qt::RightEdge,
                             Qt::BottomEdge | Qt::LeftEdge,
                             Qt::BottomEdge | Qt::RightEdge};
    for (Qt::Edges edges : all)
        new TEdgeGrip(this, edges);
}

void TFrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutClient();
}

void TFrmMain::LayoutClient() {
    if (!Panel1 || !Panel2 || !PanelImage)
        return; // still being built
    const int width = std::max(this->width(), ClientWidth);
    const int height = std::max(this->height(), ClientHeight);

    // The strip as drawn, its last column carried on to the right edge.
    if (ImgMove->width() != width) {
        QPixmap strip(width, StripHeight);
        strip.fill(palette().color(QPalette::Window));
        QPainter paint(&strip);
        paint.drawPixmap(0, 0, StripPicture);
        const int last = StripPicture.width() - 1;
        if (last >= 0 && width > StripPicture.width())
            paint.drawPixmap(QRect(last + 1, 0, width - last - 1, StripHeight), StripPicture,
                             QRect(last, 0, 1, StripPicture.height()));
        paint.end();
        ImgMove->setPixmap(strip);
        ImgMove->setGeometry(0, 0, width, StripHeight);
    }

    Panel2->setGeometry(0, StripHeight, width - PanelWidth, height - StripHeight);
    const int w = Panel2->width(), h = Panel2->height();
    // The column headers are as high as the panes' font is (in pixels), 12 at its default size.
    const int header = std::max(12, lblHead->font().pixelSize());
    lblHead->setGeometry(0, 0, w, header);
    ReceEdit->setGeometry(0, header, w, h - PageHeight - 2 * header);
    lblEnd->setGeometry(0, h - PageHeight - header, w, header);
    PageSel->setGeometry(0, h - PageHeight, w, PageHeight);

    Panel1->setGeometry(width - PanelWidth, StripHeight, PanelWidth, height - StripHeight);
    PanelImage->setGeometry(1, 1, PanelWidth - 2, Panel1->height() - 2);
    PanelClient->setGeometry(1, 1, PanelWidth - 2, Panel1->height() - 2);

    const QObjectList all = children(); // a copy: raising a grip reorders the list
    for (QObject* child : all)
        if (auto* grip = dynamic_cast<TEdgeGrip*>(child))
            grip->Place(size());
}

void TFrmMain::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || event->position().y() >= StripHeight)
        return;
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}
