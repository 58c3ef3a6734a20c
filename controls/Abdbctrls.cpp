#include "Abdbctrls.h"

#include <QMetaType>

#include <cmath>
#include <limits>

void TAbFieldDataLink::SetField(int TypeId) {
    switch (TypeId) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
        FKind = fkInteger;
        break;
    case QMetaType::Float:
    case QMetaType::Double:
        FKind = fkFloat;
        break;
    case QMetaType::Bool:
        FKind = fkBoolean;
        break;
    case QMetaType::UnknownType:
        FKind = fkNone;
        break;
    default:
        FKind = fkNone;
        DataField.clear();
        break;
    }
}

void TAbFieldDataLink::ValueChanged(const QVariant& Value) {
    if (FWriting || FKind == fkNone)
        return;
    if (FKind == fkBoolean) {
        const bool b = Value.toBool();
        if (b == FBool)
            return;
        FBool = b;
        FInt = b ? 1 : 0;
    } else {
        qint32 i = 0;
        if (FKind == fkInteger) {
            i = Value.toInt();
        } else {
            // Truncated toward zero; values beyond the 32-bit range saturate instead of being
            // undefined.
            const float f = Value.toFloat();
            if (std::isnan(f))
                i = 0;
            else if (f >= 2147483648.0f)
                i = std::numeric_limits<qint32>::max();
            else if (f < -2147483648.0f)
                i = std::numeric_limits<qint32>::min();
            else
                i = qint32(f);
        }
        if (i == FInt)
            return;
        FInt = i;
        FBool = i == 1;
    }
    if (Control)
        Control->DataRead();
}

void TAbFieldDataLink::Write(const QVariant& Value) {
    if (IndexField)
        return;
    FWriting = true;
    const bool ok = WriteField && WriteField(Value);
    FWriting = false;
    // A refused write makes the link read-only instead of failing the control's status change.
    if (!ok)
        ReadOnly = true;
}

void TAbFieldDataLink::WriteInteger(qint32 Value) {
    if (Value == FInt)
        return;
    Write(Value);
    if (!ReadOnly) {
        FInt = Value;
        FBool = Value == 1;
    }
}

void TAbFieldDataLink::WriteBoolean(bool Value) {
    if (Value == FBool)
        return;
    Write(Value);
    if (!ReadOnly) {
        FBool = Value;
        FInt = Value ? 1 : 0;
    }
}

TAbDBLED::TAbDBLED(QWidget* AParent, QObject* AOwner)
    : TAbLED(AParent, AOwner), FDataLink(std::make_unique<TAbFieldDataLink>()) {
    FDataLink->Control = this;
}

TAbDBLED::~TAbDBLED() = default;

void TAbDBLED::SetDataSource(QObject* Value) {
    // A data source that is destroyed becomes none by itself (QPointer).
    FDataLink->DataSource = Value;
}

void TAbDBLED::DataRead() {
    switch (FDataLink->FieldKind()) {
    case fkInteger:
    case fkFloat:
        SetStatusInt(FDataLink->IntValue());
        break;
    case fkBoolean:
        SetChecked(FDataLink->BoolValue());
        break;
    case fkNone:
        break;
    }
}

void TAbDBLED::StatusIntChanged() {
    if (!FDataLink || FDataLink->ReadOnly)
        return;
    switch (FDataLink->FieldKind()) {
    case fkInteger:
    case fkFloat:
        FDataLink->WriteInteger(StatusInt());
        break;
    case fkBoolean:
        FDataLink->WriteBoolean(Checked());
        break;
    case fkNone:
        break;
    }
}
