#include "StoredSettings.h"

#include "IniFormat.h"
#include "SettingsKeys.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Settings files written as text, each under a name of its own.
class SettingsFile : public ::testing::Test {
protected:
    QString Write(const QByteArray& ini) {
        const QString path = Dir.filePath(QString("%1.ini").arg(++Serial));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ini);
        return path;
    }
    TStoredSettings Read(const QByteArray& ini) {
        const QSettings s(Write(ini), QSettings::IniFormat);
        return ReadStoredSettings(s);
    }

    QTemporaryDir Dir;
    int Serial = 0;
};

const QByteArray AllValues = "[General]\nComPort=1\nBaudRate=12\nParity=2\nControlRTS=1\n"
                             "AllowHead=0\nRTSEnabled=1\nDTREnabled=0\nSendMode=3\nReceNum=64\n"
                             "HeadBuff=55 AA FF\n";

TEST_F(SettingsFile, ReadsEveryValue) {
    const TStoredSettings s = Read(AllValues);
    ASSERT_TRUE(s.Complete());
    EXPECT_EQ(s.ComPort, 1);
    EXPECT_EQ(s.BaudRate, 12);
    EXPECT_EQ(s.Parity, 2);
    EXPECT_EQ(s.ControlRTS, 1);
    EXPECT_EQ(s.AllowHead, 0);
    EXPECT_EQ(s.RTSEnabled, 1);
    EXPECT_EQ(s.DTREnabled, 0);
    EXPECT_EQ(s.SendMode, 3);
    EXPECT_EQ(s.ReceNum, 64);
    EXPECT_EQ(s.HeadBuff, "55 AA FF");
    EXPECT_FALSE(s.PortMap);
}

TEST_F(SettingsFile, TheFirstValueThatFailsEndsTheReads) {
    // Parity is not a number: ComPort and BaudRate were read, nothing after them.
    const TStoredSettings s = Read(QByteArray(AllValues).replace("Parity=2", "Parity=two"));
    EXPECT_EQ(s.ComPort, 1);
    EXPECT_EQ(s.BaudRate, 12);
    EXPECT_FALSE(s.Parity);
    EXPECT_FALSE(s.ControlRTS);
    EXPECT_FALSE(s.ReceNum);
    EXPECT_FALSE(s.Complete());

    const TStoredSettings absent = Read(QByteArray(AllValues).replace("SendMode=3\n", ""));
    EXPECT_EQ(absent.DTREnabled, 0);
    EXPECT_FALSE(absent.SendMode);
    EXPECT_FALSE(absent.Complete());
    EXPECT_FALSE(Read("").ComPort);
}

TEST(StoredWholeNumber, TakesWhatThirtyTwoBitsHoldSignedOrNot) {
    const struct {
        const char* text;
        std::optional<int64_t> value;
    } cases[] = {
        {"0", 0},
        {" 7 ", 7},
        {"+6", 6},
        {"-2147483648", INT32_MIN},
        {"-2147483649", std::nullopt},
        {"4294967295", UINT32_MAX},
        {"4294967296", std::nullopt},
        {"", std::nullopt},
        {"0x2", std::nullopt},
        {"1e3", std::nullopt},
        {"1 2", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StoredWholeNumber(c.text), c.value) << c.text;
}

TEST_F(SettingsFile, APreambleMustBeText) {
    const QByteArray noHead = QByteArray(AllValues).replace("HeadBuff=55 AA FF\n", "");
    const TStoredSettings absent = Read(noHead);
    EXPECT_TRUE(absent.Complete());
    EXPECT_EQ(absent.HeadBuff, "");

    // Unquoted commas make a list, which fails; quoted, they are text.
    EXPECT_FALSE(Read(noHead + "HeadBuff=55, AA\n").HeadBuff);
    EXPECT_FALSE(Read(noHead + "HeadBuff=@ByteArray(55)\n").HeadBuff);
    EXPECT_EQ(Read(noHead + "HeadBuff=\"55, AA\"\n").HeadBuff, "55, AA");
    EXPECT_EQ(Read(noHead + "HeadBuff=@Invalid()\n").HeadBuff, "");
    EXPECT_EQ(Read(noHead + "HeadBuff=\n").HeadBuff, "");
}

TEST_F(SettingsFile, APortMapIsReadWhenItsGroupHoldsAnyKey) {
    EXPECT_FALSE(Read(AllValues + "[PortMap\\Sub]\nCOM1=loopback\n").PortMap);

    const TStoredSettings s = Read("[PortMap]\nCOM2=loopback\nCOM6=/dev/ttyUSB0\nCOM7=/dev/x\n");
    ASSERT_TRUE(s.PortMap);
    EXPECT_EQ(s.PortMap->Targets,
              (std::array<std::string, 6>{"", "loopback", "", "", "", "/dev/ttyUSB0"}));
    EXPECT_FALSE(s.ComPort); // the values fail apart from the map

    const TStoredSettings other = Read("[PortMap]\nSpeed=1\n");
    ASSERT_TRUE(other.PortMap);
    EXPECT_EQ(other.PortMap->Targets, (std::array<std::string, 6>{}));
}

TEST_F(SettingsFile, WrittenValuesReadBackTheSame) {
    TStoredSettings values = Read(AllValues);
    values.ReceNum = UINT32_MAX;
    values.SendMode = -1;
    values.HeadBuff = QStringLiteral("55, AA;\t\"FF\" @x = [y] \\ 中");
    values.PortMap = TPortMap{{"/dev/ttyUSB0", "loopback", "", "/dev/serial/by-id/a b,c", "", ""}};
    values.ReceMemoryMiB = 3072;
    values.Language = 1;
    const QString path = Write("");
    {
        QSettings s(path, QSettings::IniFormat);
        WriteStoredSettings(s, values);
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(Read(f.readAll()), values); // from the text, not from what QSettings keeps
}

TEST_F(SettingsFile, APortTargetKeepsAByteOrderMarkAtItsStart) {
    // Nonsense as a device, but what was read is written back as it was.
    TStoredSettings values = Read(AllValues);
    values.PortMap = TPortMap{{"\xEF\xBB\xBF/dev/ttyUSB0", "", "", "", "", ""}};
    const QString path = Write("");
    {
        QSettings s(path, settings::Format());
        WriteStoredSettings(s, values);
    }
    const QSettings s(path, settings::Format());
    const TStoredSettings back = ReadStoredSettings(s);
    ASSERT_TRUE(back.PortMap);
    EXPECT_EQ(back.PortMap->Targets[0], values.PortMap->Targets[0]);
}

TEST_F(SettingsFile, WritingLeavesTheKeysOfAbsentValues) {
    const QString path = Write(AllValues + "[PortMap]\nCOM1=loopback\n");
    TStoredSettings values;
    values.ComPort = 4;
    {
        QSettings s(path, QSettings::IniFormat);
        WriteStoredSettings(s, values);
    }
    const QSettings s(path, QSettings::IniFormat);
    const TStoredSettings back = ReadStoredSettings(s);
    EXPECT_EQ(back.ComPort, 4);
    EXPECT_EQ(back.ReceNum, 64);
    EXPECT_EQ(back.HeadBuff, "55 AA FF");
    ASSERT_TRUE(back.PortMap);
    EXPECT_EQ(back.PortMap->Targets[0], "loopback");
}

TEST_F(SettingsFile, TheLanguageIsChineseOrEnglishAndReadApart) {
    EXPECT_FALSE(Read(AllValues).Language);
    EXPECT_EQ(Read("[General]\nComPort=x\nLanguage=1\n").Language, 1);
    for (const char* bad : {"2", "-1", "en", ""})
        EXPECT_FALSE(Read(AllValues + "Language=" + bad + "\n").Language) << bad;
}

TEST_F(SettingsFile, TheReceiveMemoryLimitIsReadApartFromTheOtherValues) {
    // Absent in a file of every other value; present even where an earlier value failed.
    EXPECT_FALSE(Read(AllValues).ReceMemoryMiB);
    const TStoredSettings s = Read("[General]\nComPort=x\nReceMemoryMiB=512\n");
    EXPECT_FALSE(s.Complete());
    EXPECT_EQ(s.ReceMemoryMiB, 512);
    EXPECT_FALSE(Read(AllValues + "ReceMemoryMiB=lots\n").ReceMemoryMiB);
}

} // namespace
