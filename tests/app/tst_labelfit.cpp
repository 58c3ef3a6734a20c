// Every page laid out in both languages at the window's default size, with the longest figures
// its labels show: no label's text is wider than the label, and nothing in a group box reaches
// into its frame or title.

#include "AutoSendPage.h"
#include "Language.h"
#include "Openwindow.h"

#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

// What does not fit, each with its page, its name and its text.
QStringList Misfits(QWidget* window, const QString& page) {
    QStringList out;
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (!l->isVisible() || l->text().isEmpty() || l->wordWrap() ||
            Qt::mightBeRichText(l->text()))
            continue;
        const QFontMetrics m(l->font());
        int wide = 0;
        for (const QString& line : l->text().split('\n'))
            wide = std::max(wide, m.horizontalAdvance(line));
        const int room = l->contentsRect().width() - 2 * l->margin();
        if (wide > room)
            out << QString("%1: %2 \"%3\" needs %4 pixels, has %5")
                       .arg(page, l->objectName().isEmpty() ? l->metaObject()->className()
                                                            : l->objectName(),
                            l->text())
                       .arg(wide)
                       .arg(room);
    }
    // Nothing on the page is cut off by its parent's edge.
    auto* pages = window->findChild<QTabWidget*>();
    for (QWidget* w : pages->currentWidget()->findChildren<QWidget*>())
        if (w->isVisible() && !w->isWindow() && !w->parentWidget()->rect().contains(w->geometry()))
            out << QString("%1: %2 %3 at (%4,%5 %6x%7) reaches out of its parent (%8x%9)")
                       .arg(page, w->metaObject()->className(), w->objectName())
                       .arg(w->x())
                       .arg(w->y())
                       .arg(w->width())
                       .arg(w->height())
                       .arg(w->parentWidget()->width())
                       .arg(w->parentWidget()->height());
    for (QGroupBox* box : window->findChildren<QGroupBox*>()) {
        if (!box->isVisible())
            continue;
        const QRect inside = box->contentsRect();
        for (QWidget* w : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible() && !inside.contains(w->geometry()))
                out << QString("%1: %2 in \"%3\" at (%4,%5 %6x%7) reaches out of (%8,%9 %10x%11)")
                           .arg(page, w->metaObject()->className(), box->title())
                           .arg(w->x())
                           .arg(w->y())
                           .arg(w->width())
                           .arg(w->height())
                           .arg(inside.x())
                           .arg(inside.y())
                           .arg(inside.width())
                           .arg(inside.height());
    }
    return out;
}

class LabelFit : public ::testing::TestWithParam<TLanguage> {
protected:
    void TearDown() override { SetLanguage(TLanguage::Chinese); }
};

TEST_P(LabelFit, EveryLabelOfEveryPageHoldsItsText) {
    ASSERT_TRUE(SetLanguage(GetParam()));
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    // The longest figures: counts of ten digits, rates of 100 %.
    auto* timed = frm->findChild<TAutoSendPage*>();
    ASSERT_TRUE(timed);
    timed->TotalSent = timed->TotalRecv = 4294967295u;
    timed->ByteRateFigure = timed->BitRateFigure = "100.0000%";
    timed->ShownCount = 4294967295u;
    timed->lblSendByte->setText("-");
    timed->lblRev->setText("-");
    timed->RetranslateUi(); // shows them

    auto* pages = frm->findChild<QTabWidget*>();
    ASSERT_TRUE(pages);
    QStringList misfits;
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        QCoreApplication::processEvents();
        misfits << Misfits(frm.get(), pages->tabText(i));
    }
    misfits.removeDuplicates();
    EXPECT_TRUE(misfits.isEmpty()) << misfits.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, LabelFit,
                         ::testing::Values(TLanguage::Chinese, TLanguage::English),
                         [](const auto& info) {
                             return info.param == TLanguage::Chinese ? "Chinese" : "English";
                         });

} // namespace
