#pragma once

// TAbDBLED: TAbLED with an optional binding to a data field. Kestrel binds none, and unbound
// the control behaves exactly as TAbLED. The binding goes through TAbFieldDataLink, which a data
// framework drives: it reports a bound field's kind and new values, and takes the values the
// control writes back. GUI thread only.

#include "Abled.h"

#include <QPointer>
#include <QVariant>

#include <functional>

class TAbDBLED;

// How the bound field is read and written.
enum TAbFieldKind : quint8 { fkNone, fkInteger, fkFloat, fkBoolean };

class TAbFieldDataLink {
public:
    // The framework's side: stores a value in the bound field's record; returns false when the
    // database refuses it.
    using TWriteField = std::function<bool(const QVariant& Value)>;

    TAbDBLED* Control = nullptr;
    QString DataField;
    QPointer<QObject> DataSource;
    bool ReadOnly = false;
    // The bound field is an index field: writes to it are skipped.
    bool IndexField = false;
    TWriteField WriteField;

    TAbFieldKind FieldKind() const { return FKind; }
    // Binds a field of the given type (a QMetaType id); a type that is neither integer, float
    // nor boolean drops the field name. An invalid type unbinds.
    void SetField(int TypeId);
    // The framework reports the bound field's value; a change reaches the control's DataRead.
    void ValueChanged(const QVariant& Value);
    // The control writes its state; skipped when it equals the cached value.
    void WriteInteger(qint32 Value);
    void WriteBoolean(bool Value);

    qint32 IntValue() const { return FInt; }
    bool BoolValue() const { return FBool; }

private:
    void Write(const QVariant& Value);

    TAbFieldKind FKind = fkNone;
    qint32 FInt = 0;
    bool FBool = false;
    bool FWriting = false;
};

class TAbDBLED : public TAbLED {
    Q_OBJECT
public:
    explicit TAbDBLED(QWidget* AParent = nullptr, QObject* AOwner = nullptr);
    ~TAbDBLED() override;

    QString DataField() const { return FDataLink->DataField; }
    void SetDataField(const QString& Value) { FDataLink->DataField = Value; }
    QObject* DataSource() const { return FDataLink->DataSource; }
    void SetDataSource(QObject* Value);
    bool DataReadOnly() const { return FDataLink->ReadOnly; }
    void SetDataReadOnly(bool Value) { FDataLink->ReadOnly = Value; }
    TAbFieldDataLink* DataLink() const { return FDataLink.get(); }

    // The link read a new field value.
    void DataRead();
    // Writes the state to the bound field unless read-only or unbound.
    void StatusIntChanged() override;

private:
    std::unique_ptr<TAbFieldDataLink> FDataLink;
};
