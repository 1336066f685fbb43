#include "controls/formreader.h"

#include "controls/form.h"
#include "controls/graphics.h"
#include "runtime/classregistry.h"
#include "runtime/component.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QWidget>

namespace FormDescription {

namespace {

// A window class may go by another name in its description (Q_CLASSINFO "DescribedAs").
const char* describedClassName(const QMetaObject* meta) {
    const int info = meta->indexOfClassInfo("DescribedAs");
    return info >= 0 ? meta->classInfo(info).value() : meta->className();
}

QString describe(const QObject* obj) {
    return QStringLiteral("%1.%2").arg(QLatin1String(describedClassName(obj->metaObject())),
                                       obj->objectName());
}

bool isTrue(const Value& v, bool* ok) {
    *ok = v.kind == Value::Identifier &&
          (v.value.toString().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 ||
           v.value.toString().compare(QLatin1String("False"), Qt::CaseInsensitive) == 0);
    return v.value.toString().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
}

// Converts a description value into what the property takes.
std::optional<QVariant> convert(const QMetaProperty& p, const Value& v, QObject* handlerOwner) {
    const QMetaType t = p.metaType();
    if (p.isEnumType()) {
        if (p.isFlagType() && v.kind == Value::Set) {
            const QStringList members = v.value.toStringList();
            if (members.isEmpty()) return QVariant(0);
            return QVariant(members.join('|'));
        }
        if (v.kind == Value::Identifier) return v.value;
        if (v.kind == Value::Integer) return QVariant(v.value.toInt());
        return std::nullopt;
    }
    switch (t.id()) {
    case QMetaType::Bool: {
        bool ok = false;
        const bool b = isTrue(v, &ok);
        return ok ? std::optional<QVariant>(b) : std::nullopt;
    }
    case QMetaType::QColor:
        if (v.kind == Value::Identifier || v.kind == Value::Integer)
            if (auto c = Graphics::ColorFromText(v.value.toString())) return QVariant(*c);
        return std::nullopt;
    case QMetaType::QString:
        if (v.kind == Value::String) return v.value;
        return std::nullopt;
    case QMetaType::QStringList:
        if (v.kind == Value::List) return v.value;
        return std::nullopt;
    case QMetaType::QChar:
        if (v.kind == Value::String && v.value.toString().size() == 1)
            return QVariant(v.value.toString()[0]);
        if (v.kind == Value::Integer) return QVariant(QChar(char16_t(v.value.toInt())));
        return std::nullopt;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
        if (v.kind == Value::Integer) return v.value;
        return std::nullopt;
    case QMetaType::Double:
    case QMetaType::Float:
        if (v.kind == Value::Integer || v.kind == Value::Float) return QVariant(v.value.toDouble());
        return std::nullopt;
    default:
        break;
    }
    if (t.flags() & QMetaType::PointerToQObject) {
        if (v.kind != Value::Identifier) return std::nullopt;
        auto* form = qobject_cast<TForm*>(handlerOwner);
        QObject* target = form ? form->FindComponent(v.value.toString()) : nullptr;
        if (!target) return std::nullopt;
        return QVariant::fromValue(target);
    }
    return v.value;
}

void setFont(QWidget* w, const QByteArray& part, const Value& v, int line) {
    QFont f = w->font();
    if (part == "Name" && v.kind == Value::String) {
        f.setFamily(v.value.toString());
    } else if (part == "Height" && v.kind == Value::Integer) {
        // Negative heights are character heights in pixels; positive ones include leading.
        const int h = v.value.toInt();
        f.setPixelSize(std::max(1, h < 0 ? -h : h));
    } else if (part == "Size" && v.kind == Value::Integer) {
        f.setPointSize(std::max(1, v.value.toInt()));
    } else if (part == "Style" && v.kind == Value::Set) {
        const QStringList s = v.value.toStringList();
        f.setBold(s.contains(QLatin1String("fsBold")));
        f.setItalic(s.contains(QLatin1String("fsItalic")));
        f.setUnderline(s.contains(QLatin1String("fsUnderline")));
        f.setStrikeOut(s.contains(QLatin1String("fsStrikeOut")));
    } else if (part == "Color") {
        const auto c = Graphics::ColorFromText(v.value.toString());
        if (!c) Fail(line, QStringLiteral("unknown colour %1").arg(v.value.toString()));
        // Not for the disabled look, which must stay greyed.
        QPalette pal = w->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive})
            for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
                pal.setColor(group, role, *c);
        w->setPalette(pal);
        return;
    } else if (part == "Charset") {
        return; // text is Unicode throughout
    } else {
        Fail(line,
             QStringLiteral("%1 has no font property %2").arg(describe(w), QLatin1String(part)));
    }
    w->setFont(f);
}

// Properties that every control has; set on the widget itself.
bool setCommon(QWidget* w, const QByteArray& name, const Value& v, int line) {
    auto integer = [&] {
        if (v.kind != Value::Integer)
            Fail(line,
                 QStringLiteral("%1.%2 takes a number").arg(describe(w), QLatin1String(name)));
        return v.value.toInt();
    };
    auto boolean = [&] {
        bool ok = false;
        const bool b = isTrue(v, &ok);
        if (!ok)
            Fail(line,
                 QStringLiteral("%1.%2 takes True or False").arg(describe(w), QLatin1String(name)));
        return b;
    };
    if (name == "Left")
        w->move(integer(), w->y());
    else if (name == "Top")
        w->move(w->x(), integer());
    else if (name == "Width")
        w->resize(integer(), w->height());
    else if (name == "Height")
        w->resize(w->width(), integer());
    else if (name == "Visible")
        w->setVisible(boolean());
    else if (name == "Enabled")
        w->setEnabled(boolean());
    else if (name == "Hint")
        w->setToolTip(v.value.toString().replace(QLatin1String("\r\n"), QLatin1String("\n")));
    else if (name == "ShowHint" || name == "ParentShowHint" || name == "ParentFont" ||
             name == "ParentColor" || name == "TabOrder" || name == "ParentCtl3D" ||
             name == "Ctl3D")
        w->setProperty(name.constData(), v.value); // kept for whoever asks; no visible effect
    else if (name == "TabStop")
        w->setFocusPolicy(boolean() ? Qt::StrongFocus : Qt::NoFocus);
    else if (name == "Color") {
        const auto c = Graphics::ColorFromText(v.value.toString());
        if (!c) Fail(line, QStringLiteral("unknown colour %1").arg(v.value.toString()));
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, *c);
        pal.setColor(QPalette::Button, *c);
        // An edit's colour is the background of its text.
        if (qobject_cast<QAbstractScrollArea*>(w) || qobject_cast<QLineEdit*>(w))
            pal.setColor(QPalette::Base, *c);
        w->setPalette(pal);
        w->setAutoFillBackground(true);
    } else if (name == "Cursor") {
        const auto c = Graphics::CursorFromText(v.value.toString());
        if (!c) Fail(line, QStringLiteral("unknown cursor %1").arg(v.value.toString()));
        w->setCursor(*c);
    } else if (name == "Caption" && v.kind == Value::String) {
        if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(v.value.toString());
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(v.value.toString());
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(v.value.toString());
        else
            return false;
    } else if (name.startsWith("Font.")) {
        setFont(w, name.mid(5), v, line);
    } else {
        return false;
    }
    return true;
}

// A part of a published font property (HintFont.Name); its colour is the sibling property
// named after it (HintFontColor), as a font here carries no colour.
bool setFontProperty(QObject* obj, const QByteArray& name, const Value& v) {
    const qsizetype dot = name.indexOf('.');
    if (dot < 0) return false;
    const QByteArray owner = name.left(dot), part = name.mid(dot + 1);
    const auto p = ComponentModel::FindProperty(obj, owner);
    if (!p || p->metaType().id() != QMetaType::QFont) return false;
    if (part == "Color") {
        const auto c = Graphics::ColorFromText(v.value.toString());
        const auto colorProperty = ComponentModel::FindProperty(obj, owner + "Color");
        return c && colorProperty && colorProperty->write(obj, QVariant(*c));
    }
    if (part == "Charset") return true; // text is Unicode throughout
    QFont f = p->read(obj).value<QFont>();
    if (part == "Name" && v.kind == Value::String)
        f.setFamily(v.value.toString());
    else if (part == "Height" && v.kind == Value::Integer)
        f.setPixelSize(std::max(1, std::abs(v.value.toInt())));
    else if (part == "Size" && v.kind == Value::Integer)
        f.setPointSize(std::max(1, v.value.toInt()));
    else if (part == "Style" && v.kind == Value::Set) {
        const QStringList st = v.value.toStringList();
        f.setBold(st.contains(QLatin1String("fsBold")));
        f.setItalic(st.contains(QLatin1String("fsItalic")));
        f.setUnderline(st.contains(QLatin1String("fsUnderline")));
        f.setStrikeOut(st.contains(QLatin1String("fsStrikeOut")));
    } else
        return false;
    return p->write(obj, QVariant(f));
}

void createChildren(const Object& node, QWidget* container, TForm* form,
                    QList<TComponentState*>& loading) {
    for (const auto& child : node.children) {
        QObject* obj = TClassRegistry::Create(child->className, container);
        if (!obj)
            Fail(child->line,
                 QStringLiteral("unknown class %1").arg(QLatin1String(child->className)));
        obj->setObjectName(QString::fromLatin1(child->name));
        if (!obj->isWidgetType()) obj->setParent(form);
        form->InsertComponent(obj);
        if (auto* state = dynamic_cast<TComponentState*>(obj)) {
            state->BeginLoading();
            loading.append(state);
        }
        for (const Property& p : child->properties) {
            try {
                SetProperty(obj, p.name, p.value, form);
            } catch (const EReadError& e) {
                Fail(p.line, QString::fromUtf8(e.what()));
            }
        }
        auto* w = qobject_cast<QWidget*>(obj);
        createChildren(*child, w ? w : container, form, loading);
    }
}

} // namespace

void SetProperty(QObject* obj, const QByteArray& name, const Value& value, QObject* handlerOwner) {
    QByteArray propName = name;
    if (name.endsWith(".Strings")) propName.chop(8);

    if (auto p = ComponentModel::FindProperty(obj, propName)) {
        if (ComponentModel::IsEvent(*p)) {
            if (value.kind != Value::Identifier ||
                !ComponentModel::WriteEvent(obj, *p, handlerOwner,
                                            value.value.toString().toLatin1()))
                throw EReadError(
                    QStringLiteral("%1.%2: no handler %3 on the window")
                        .arg(describe(obj), QLatin1String(propName), value.value.toString())
                        .toStdString());
            return;
        }
        const auto v = convert(*p, value, handlerOwner);
        if (!v || !p->write(obj, *v))
            throw EReadError(
                QStringLiteral("%1.%2 cannot take %3")
                    .arg(describe(obj), QLatin1String(propName), value.value.toString())
                    .toStdString());
        return;
    }
    if (auto* w = qobject_cast<QWidget*>(obj); w && setCommon(w, name, value, 0)) return;
    if (setFontProperty(obj, name, value)) return;
    throw EReadError(QStringLiteral("%1 has no property %2")
                         .arg(describe(obj), QLatin1String(name))
                         .toStdString());
}

void Apply(const Object& root, TForm* form) {
    const char* formClass = describedClassName(form->metaObject());
    if (root.className != formClass)
        Fail(root.line, QStringLiteral("the description is of %1, not %2")
                            .arg(QLatin1String(root.className), QLatin1String(formClass)));
    form->setObjectName(QString::fromLatin1(root.name));
    QList<TComponentState*> loading{form};
    form->BeginLoading();
    for (const Property& p : root.properties) {
        try {
            SetProperty(form, p.name, p.value, form);
        } catch (const EReadError& e) {
            Fail(p.line, QString::fromUtf8(e.what()));
        }
    }
    createChildren(root, form, form, loading);
    form->ComponentsCreated();
    for (TComponentState* c : loading)
        c->EndLoading();
}

} // namespace FormDescription
