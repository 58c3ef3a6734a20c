// Checks of the drawing tool and of the pictures committed under resources/.
#include "paint.h"
#include "pictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace pictures;

namespace {

const QString committed = QStringLiteral(KESTREL_RESOURCES_DIR);

const Picture* find(const QString& file) {
    for (const Picture& pic : allPictures())
        if (pic.file == file)
            return &pic;
    return nullptr;
}

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Relative luminance and contrast ratio as the web's accessibility guidelines define them.
double luminance(QRgb c) {
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(PictureTable, FilesAreUniqueAndTheImageListIsInTheTable) {
    QSet<QString> seen;
    for (const Picture& pic : allPictures()) {
        EXPECT_FALSE(seen.contains(pic.file)) << qPrintable(pic.file);
        seen.insert(pic.file);
        EXPECT_TRUE(pic.file.endsWith(".png")) << qPrintable(pic.file);
    }
    const QStringList list = imageList();
    ASSERT_EQ(list.size(), 7);
    for (const QString& file : list) {
        const Picture* pic = find(file);
        ASSERT_NE(pic, nullptr) << qPrintable(file);
        EXPECT_EQ(pic->width, 16);
        EXPECT_EQ(pic->height, 16);
        EXPECT_TRUE(pic->transparent);
    }
    // The send pane's tab shows image mode + 2: Character, Line, Modem, Hex.
    EXPECT_EQ(list[0 + 2], "tab/char.png");
    EXPECT_EQ(list[1 + 2], "tab/line.png");
    EXPECT_EQ(list[2 + 2], "tab/modem.png");
    EXPECT_EQ(list[3 + 2], "tab/hex.png");
}

TEST(PictureTable, QrcListsEveryPictureOnceUnderItsOwnName) {
    const QString qrc = qrcText();
    EXPECT_TRUE(qrc.contains("<qresource prefix=\"/\">"));
    int built = 0;
    for (const Picture& pic : allPictures()) {
        const QString entry = QStringLiteral("<file alias=\"%1\">%1</file>").arg(pic.file);
        EXPECT_EQ(qrc.count(entry), pic.inQrc ? 1 : 0) << qPrintable(pic.file);
        built += pic.inQrc;
    }
    EXPECT_EQ(qrc.count("<file "), built);
    // The desktop's icons: every size a theme asks for, square, not built in.
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const Picture* icon = find(QStringLiteral("icons/hicolor/%1x%1/apps/kestrel.png").arg(size));
        ASSERT_NE(icon, nullptr) << size;
        EXPECT_EQ(icon->width, size);
        EXPECT_EQ(icon->height, size);
        EXPECT_FALSE(icon->inQrc);
    }
    EXPECT_EQ(imageListText().split('\n', Qt::SkipEmptyParts).first(), "0 tab/timed.png");
}

TEST(Drawing, EveryPictureHasItsSizeAndNoTextIsCut) {
    clearOverflows();
    for (const Picture& pic : allPictures()) {
        const QImage img = pic.draw();
        EXPECT_EQ(img.size(), QSize(pic.width, pic.height)) << qPrintable(pic.file);
        if (pic.transparent) {
            // Icons sit on whatever the tool bar or tab shows: their corners stay clear,
            // and they are not empty.
            EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0) << qPrintable(pic.file);
            EXPECT_EQ(qAlpha(img.pixel(pic.width - 1, pic.height - 1)), 0) << qPrintable(pic.file);
            int opaque = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    opaque += qAlpha(img.pixel(x, y)) > 200;
            EXPECT_GT(opaque, pic.width * pic.height / 10) << qPrintable(pic.file);
        } else {
            EXPECT_EQ(qAlpha(img.pixel(0, 0)), 255) << qPrintable(pic.file);
        }
    }
    EXPECT_TRUE(overflows().isEmpty()) << qPrintable(overflows().join('\n'));
}

TEST(TextGuard, RecordsCaptionsThatDoNotFitAndOnlyThose) {
    QImage img = canvas(200, 40, Qt::white);
    QPainter p(&img);
    p.setFont(cjkFont(12));
    clearOverflows();
    text(p, QRectF(0, 0, 200, 20), Qt::AlignLeft, QString::fromUtf8("端口状态 Port"));
    text(p, QRectF(0, 0, 200, 20), Qt::AlignLeft, QString()); // empty text fits anywhere
    EXPECT_TRUE(overflows().isEmpty()) << qPrintable(overflows().join('\n'));

    text(p, QRectF(0, 0, 30, 20), Qt::AlignLeft, QString::fromUtf8("零调制解调器线"));
    text(p, QRectF(0, 0, 200, 4), Qt::AlignLeft, "Tall");
    ASSERT_EQ(overflows().size(), 2);
    EXPECT_TRUE(overflows()[0].contains(QString::fromUtf8("零调制解调器线")));
    EXPECT_TRUE(overflows()[1].contains("Tall"));
    clearOverflows();
    EXPECT_TRUE(overflows().isEmpty());
}

TEST(Drawing, DrawingTwiceGivesTheSamePixels) {
    // The committed files must not churn when the tool is run again.
    for (const Picture& pic : allPictures())
        EXPECT_EQ(pic.draw(), pic.draw()) << qPrintable(pic.file);
}

TEST(Drawing, TitleLeavesTheVersionLabelLegible) {
    // The window writes its version in lime at (194, 14); behind it the strip is quiet
    // and dark enough for the lime to stand out.
    const QImage title = drawTitle();
    const QRgb lime = qRgb(0, 255, 0);
    for (int y = 12; y < 30; ++y)
        for (int x = 190; x < 330; ++x) {
            const QRgb c = title.pixel(x, y);
            ASSERT_GE(contrast(c, lime), 3.0) << x << "," << y;
            ASSERT_LE(std::abs(qBlue(c) - qBlue(title.pixel(190, y))), 2) << x << "," << y;
        }
}

TEST(Drawing, PanelTextureKeepsBlackTextLegible) {
    const QImage panel = drawPanel();
    int lo = 255, hi = 0;
    for (int y = 0; y < panel.height(); ++y)
        for (int x = 0; x < panel.width(); ++x) {
            const int g = qGray(panel.pixel(x, y));
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
    EXPECT_GE(lo, 160);     // light enough under black text
    EXPECT_LE(hi - lo, 32); // a texture, not a pattern that fights the labels
}

TEST(Writing, WritesEveryFileAndTheListsIntoAFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    ASSERT_TRUE(writeAll(dir.path(), &error)) << qPrintable(error);
    for (const Picture& pic : allPictures()) {
        const QImage img(QDir(dir.path()).filePath(pic.file));
        ASSERT_FALSE(img.isNull()) << qPrintable(pic.file);
        EXPECT_EQ(img.size(), QSize(pic.width, pic.height)) << qPrintable(pic.file);
        EXPECT_EQ(img.hasAlphaChannel(), pic.transparent) << qPrintable(pic.file);
    }
    EXPECT_EQ(readText(QDir(dir.path()).filePath("kestrel.qrc")), qrcText());
    EXPECT_EQ(readText(QDir(dir.path()).filePath("imagelist.txt")), imageListText());
}

TEST(Writing, FailsCleanlyWhereItCannotWrite) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A plain file where the tool bar's folder should go.
    QFile blocker(QDir(dir.path()).filePath("tool"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    EXPECT_FALSE(writeAll(dir.path(), &error));
    EXPECT_TRUE(error.contains("tool/")) << qPrintable(error);
    EXPECT_FALSE(writeAll(QDir(dir.path()).filePath("tool/deeper"), &error));
}

TEST(Committed, ResourcesMatchTheTable) {
    // Catches a table change that was not followed by a run of the tool.
    EXPECT_EQ(readText(committed + "/kestrel.qrc"), qrcText());
    EXPECT_EQ(readText(committed + "/imagelist.txt"), imageListText());
    for (const Picture& pic : allPictures()) {
        const QImage img(committed + "/" + pic.file);
        ASSERT_FALSE(img.isNull()) << qPrintable(pic.file);
        EXPECT_EQ(img.size(), QSize(pic.width, pic.height)) << qPrintable(pic.file);
    }
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
