// The send pane's checksum read-outs: sum, XOR, CRC-16 and count
// of the hex bytes selected on one line, and their insertion into that line.

#include "Checksums.h"
#include "PageHost.h"
#include "SendEdit.h"
#include "SendPage.h"

#include <QAction>
#include <QCoreApplication>

void TSendPage::SendEditMouseDown() {
    UpdateCheckItems();
}

void TSendPage::UpdateCheckItems() {
    for (QAction* a : {N1, mnuAdd, mnuXor, mnuCRC, mnuMsg, mnuLoad, mnuSave, mnuNum})
        a->setVisible(false);
    if (SendMode != HexMode)
        return;
    mnuLoad->setVisible(true);
    mnuSave->setVisible(true);
    const QString selected = SendEdit->SelectedText();
    if (selected.isEmpty())
        return;
    // A selection across lines holds a paragraph separator in place of the break.
    const bool multiLine = selected.contains(QChar::ParagraphSeparator) ||
                           selected.contains(QChar::LineSeparator) || selected.contains('\r') ||
                           selected.contains('\n');
    bool overflow = false;
    if (!multiLine) {
        const QByteArray text = HexLineText(selected);
        HexTextToBytes(Host.HexBuf(), text.constData(), static_cast<uint32_t>(text.size()),
                       &overflow);
    }
    if (multiLine || overflow) {
        // The stored values stay as they were.
        N1->setVisible(true);
        mnuMsg->setText(
            QCoreApplication::translate("Checksum", multiLine ? MultiLineCaption : TooLongCaption));
        mnuMsg->setVisible(true);
        return;
    }
    const HexBytes& hex = Host.HexBuf();
    const TCheckSums sums = CheckSums(hex.Data, hex.Count);
    SelSum = sums.Sum;
    SelXor = sums.Xor;
    SelCrc = sums.Crc;
    mnuAdd->setText(AddCaption(SelSum));
    mnuXor->setText(XorCaption(SelXor));
    mnuCRC->setText(CrcCaption(SelCrc));
    mnuNum->setText(NumCaption(hex.Count));
    for (QAction* a : {N1, mnuAdd, mnuXor, mnuCRC, mnuNum})
        a->setVisible(true);
}

// The value stored by the last preparation goes right after the selection's
// end, and the whole line is written back as clean byte pairs.
void TSendPage::WriteCheckValue(uint32_t value, int digits) {
    int column = 0;
    const int row = SendEdit->RowAt(SendEdit->textCursor().selectionEnd(), &column);
    if (row < 0)
        return;
    QString line = SendEdit->Line(row);
    if (!InsertCheckValue(line, column, value, digits)) {
        RefuseInput(tr("一行最多%1个字节").arg(HexBytesCapacity));
        return;
    }
    if (row >= SendEdit->LineCount())
        line.prepend("> ");
    SendEdit->SetLine(row, line);
}

void TSendPage::mnuAddClick() {
    WriteCheckValue(static_cast<uint32_t>(SelSum), 2);
}

void TSendPage::mnuXorClick() {
    WriteCheckValue(SelXor, 2);
}

void TSendPage::mnuCRCClick() {
    WriteCheckValue(SelCrc, 4);
}
