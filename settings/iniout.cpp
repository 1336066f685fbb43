#include "settings/iniout.h"

#include "controls/form.h"
#include "controls/formreader.h"
#include "controls/graphics.h"
#include "platform/formatsettings.h"

#include <QCursor>
#include <QFileInfo>
#include <QMetaEnum>

#include <algorithm>
#include <cmath>

using tarnwick::IniKeyStore;

namespace {

// Item fields lose every character of code 32 or below at both ends.
QString trimField(const QString& s) {
    int b = 0, e = int(s.size());
    while (b < e && s[b].unicode() <= 32)
        ++b;
    while (e > b && s[e - 1].unicode() <= 32)
        --e;
    return s.mid(b, e - b);
}

QList<QMetaProperty> sortedProperties(const QObject* obj) {
    QList<QMetaProperty> props = ComponentModel::PublishedProperties(obj);
    std::stable_sort(props.begin(), props.end(),
                     [](const QMetaProperty& a, const QMetaProperty& b) {
                         return qstricmp(a.name(), b.name()) < 0;
                     });
    return props;
}

bool isInteger(QMetaType t) {
    switch (t.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::SChar:
        return true;
    default:
        return false;
    }
}

bool isFloat(QMetaType t) {
    return t.id() == QMetaType::Double || t.id() == QMetaType::Float;
}

bool isObject(const QMetaProperty& p) {
    return p.metaType().flags() & QMetaType::PointerToQObject;
}

// Shortest general form with up to 15 significant digits, exponent as 1E20 / 1E-5.
QString floatToText(double v) {
    QString s = QString::number(v, 'g', 15);
    const int e = int(s.indexOf('e'));
    if (e >= 0) {
        QString mantissa = s.left(e), exponent = s.mid(e + 1);
        const bool negative = exponent.startsWith('-');
        exponent.remove(0, 1); // the sign
        while (exponent.size() > 1 && exponent.startsWith('0'))
            exponent.remove(0, 1);
        s = mantissa + 'E' + (negative ? "-" : "") + exponent;
    }
    return s.replace('.', tarnwick::FormatSettings::current().decimalSeparator);
}

std::optional<double> textToFloat(const QString& text) {
    const QString sep = tarnwick::FormatSettings::current().decimalSeparator;
    QString t = text.trimmed();
    // Only the user's separator counts; a text saved with another one does not convert.
    if (sep != QLatin1String(".") && t.contains('.')) return std::nullopt;
    t.replace(sep, QLatin1String("."));
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<qlonglong> textToInteger(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong v = t.startsWith('$') ? t.mid(1).toLongLong(&ok, 16) : t.toLongLong(&ok, 10);
    return ok ? std::optional<qlonglong>(v) : std::nullopt;
}

QString setToText(const QMetaEnum& e, int value) {
    QList<std::pair<int, const char*>> members;
    for (int i = 0; i < e.keyCount(); ++i)
        if (e.value(i) != 0 && (value & e.value(i)) == e.value(i))
            members.append({e.value(i), e.key(i)});
    std::sort(members.begin(), members.end(), [](auto& a, auto& b) { return a.first < b.first; });
    QStringList names;
    for (const auto& m : members)
        names << QLatin1String(m.second);
    return '[' + names.join(',') + ']';
}

QString enumToText(const QMetaEnum& e, int value) {
    if (const char* key = e.valueToKey(value)) return QLatin1String(key);
    // Out of range: the name of the type's lowest value.
    int lowest = 0;
    for (int i = 1; i < e.keyCount(); ++i)
        if (e.value(i) < e.value(lowest)) lowest = i;
    return e.keyCount() ? QLatin1String(e.key(lowest)) : QString();
}

QString valueToText(const QObject* obj, const QMetaProperty& p, const TForm* owner) {
    const QVariant v = p.read(obj);
    const QMetaType t = p.metaType();
    if (ComponentModel::IsEvent(p))
        return QString::fromLatin1(ComponentModel::ReadEvent(obj, p).Name());
    if (p.isEnumType()) {
        const QMetaEnum e = p.enumerator();
        const int value = v.toInt();
        return p.isFlagType() ? setToText(e, value) : enumToText(e, value);
    }
    if (t.id() == QMetaType::QColor) return Graphics::ColorToText(v.value<QColor>());
    if (t.id() == QMetaType::QCursor) return Graphics::CursorToText(v.value<QCursor>().shape());
    if (t.id() == QMetaType::Bool) return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (t.id() == QMetaType::QChar) return QString(v.toChar());
    if (isInteger(t)) return v.toString();
    if (isFloat(t)) return floatToText(v.toDouble());
    if (t.id() == QMetaType::QString) return v.toString();
    if (t.id() == QMetaType::QStringList) return TIniOut::ListToText(v.toStringList());
    if (isObject(p)) {
        const QObject* target = v.value<QObject*>();
        if (!target) return {};
        if (owner && owner->Components().contains(const_cast<QObject*>(target)))
            return target->objectName();
        return TIniOut::PropertyToText(target, {}, owner);
    }
    return {};
}

bool applyText(QObject* obj, const QMetaProperty& p, const QString& text, TForm* owner) {
    const QMetaType t = p.metaType();
    if (ComponentModel::IsEvent(p)) {
        if (!owner || text.isEmpty()) return false;
        return ComponentModel::WriteEvent(obj, p, owner, text.toLatin1());
    }
    if (p.isEnumType()) {
        const QMetaEnum e = p.enumerator();
        if (p.isFlagType()) {
            // Members are found anywhere in the text, letter case counting.
            int value = 0;
            for (int i = 0; i < e.keyCount(); ++i)
                if (text.contains(QLatin1String(e.key(i)), Qt::CaseSensitive)) value |= e.value(i);
            return p.write(obj, value);
        }
        for (int i = 0; i < e.keyCount(); ++i)
            if (text.compare(QLatin1String(e.key(i)), Qt::CaseInsensitive) == 0)
                return p.write(obj, e.value(i));
        return false;
    }
    if (t.id() == QMetaType::QString) return p.write(obj, text);
    if (t.id() == QMetaType::QStringList) return p.write(obj, TIniOut::TextToList(text));
    if (text.isEmpty() && !isObject(p)) return false;
    if (t.id() == QMetaType::QColor) {
        const auto c = Graphics::ColorFromText(text);
        return c && p.write(obj, *c);
    }
    if (t.id() == QMetaType::QCursor) {
        if (const auto c = Graphics::CursorFromText(text)) return p.write(obj, QCursor(*c));
        const auto n = textToInteger(text);
        return n && p.write(obj, QCursor(Qt::CursorShape(*n)));
    }
    if (t.id() == QMetaType::Bool) return p.write(obj, QStringLiteral("1TYty").contains(text[0]));
    if (t.id() == QMetaType::QChar) return p.write(obj, text[0]);
    if (isInteger(t)) {
        const auto n = textToInteger(text);
        if (!n) return false;
        QVariant v(*n);
        return v.convert(t) && p.write(obj, v);
    }
    if (isFloat(t)) {
        const auto d = textToFloat(text);
        return d && p.write(obj, *d);
    }
    if (isObject(p)) {
        if (QObject* target = owner ? owner->FindComponent(text) : nullptr)
            return p.write(obj, QVariant::fromValue(target));
        if (QObject* held = p.read(obj).value<QObject*>())
            return TIniOut::TextToProperty(held, {}, text, owner);
        return false;
    }
    return false;
}

} // namespace

TIniOut::TIniOut(QObject* owner) : TComponent(owner) {}

void TIniOut::SetFileName(const QString& name) {
    // Like changing a file's extension: the part from the last dot of the last name goes.
    const int slash = int(std::max(name.lastIndexOf('/'), name.lastIndexOf('\\')));
    const int dot = int(name.lastIndexOf('.'));
    const QString base = dot > slash ? name.left(dot) : name;
    m_fileName = (base + QStringLiteral(".INI")).toUpper();
}

QString TIniOut::ListToText(const QStringList& lines) {
    // Each line ended by a break, breaks turned into "|", then the last "|" dropped.
    QString text;
    for (const QString& l : lines)
        text += l + '|';
    if (!text.isEmpty()) text.chop(1);
    return text;
}

QStringList TIniOut::TextToList(const QString& text) {
    if (text.isEmpty()) return {};
    QStringList lines = text.split('|');
    // A text that ends in a break has no empty line after it.
    if (lines.last().isEmpty()) lines.removeLast();
    return lines;
}

QString TIniOut::PropertyToText(const QObject* obj, const QByteArray& property,
                                const TForm* owner) {
    if (!obj) return {};
    if (!property.isEmpty()) {
        const auto p = ComponentModel::FindProperty(obj, property);
        return p ? valueToText(obj, *p, owner) : QString();
    }
    QStringList parts;
    for (const QMetaProperty& p : sortedProperties(obj))
        parts << valueToText(obj, p, owner);
    return parts.join('|');
}

bool TIniOut::TextToProperty(QObject* obj, const QByteArray& property, const QString& text,
                             TForm* owner) {
    if (!obj) return false;
    if (!property.isEmpty()) {
        const auto p = ComponentModel::FindProperty(obj, property);
        try {
            return p && applyText(obj, *p, text, owner);
        } catch (...) {
            return false; // a setter that rejects the value leaves it as it was
        }
    }
    const QStringList fields = text.split('|');
    const QList<QMetaProperty> props = sortedProperties(obj);
    bool any = false;
    for (int i = 0; i < props.size(); ++i) {
        if (isObject(props[i]) || ComponentModel::IsEvent(props[i])) break;
        const QString field = i < fields.size() ? trimField(fields[i]) : QString();
        try {
            any = applyText(obj, props[i], field, owner) || any;
        } catch (...) {
        }
    }
    return any;
}

bool TIniOut::Item::isItem() const {
    return !component.isEmpty() || !property.isEmpty() || !section.isEmpty() || !key.isEmpty();
}

TIniOut::Item TIniOut::parseItem(const QString& line) {
    const QStringList f = line.split(';');
    auto field = [&](int i) { return i < f.size() ? trimField(f[i]) : QString(); };
    return Item{field(0), field(1), field(2), field(3), field(4), field(5), field(6)};
}

TForm* TIniOut::ownerForm() const {
    return qobject_cast<TForm*>(parent());
}

QObject* TIniOut::findTarget(const QString& name) const {
    TForm* form = ownerForm();
    if (!form) return nullptr;
    if (name == form->objectName()) return form;
    return form->FindComponent(name);
}

void TIniOut::LoadProperties() {
    TForm* form = ownerForm();
    IniKeyStore reg(m_root);
    for (const QString& line : std::as_const(m_items)) {
        const Item item = parseItem(line);
        QObject* target = findTarget(item.component);
        if (!target || !ComponentModel::FindProperty(target, item.property.toLatin1())) continue;
        try {
            reg.closeKey();
            std::optional<QString> stored;
            if (reg.openKey(item.section, false)) stored = reg.readString(item.key);
            TextToProperty(target, item.property.toLatin1(), stored.value_or(item.defaultText),
                           form);
        } catch (...) {
            // One item's failure never stops the restore.
        }
    }
}

void TIniOut::SaveProperties() {
    TForm* form = ownerForm();
    IniKeyStore reg(m_root);
    for (const QString& line : std::as_const(m_items)) {
        const Item item = parseItem(line);
        if (!item.isItem() || item.restoreOnly == QLatin1String("1")) continue;
        QObject* target = findTarget(item.component);
        if (!target || !ComponentModel::FindProperty(target, item.property.toLatin1())) continue;
        try {
            reg.closeKey();
            if (reg.openKey(item.section, true))
                reg.writeString(item.key, PropertyToText(target, item.property.toLatin1(), form));
        } catch (...) {
        }
    }
    if (!reg.flush()) qWarning("Settings could not be saved: %s", qPrintable(reg.lastError()));
}

void RegisterSettingsComponents() {
    TClassRegistry::Register<TIniOut>();
}
