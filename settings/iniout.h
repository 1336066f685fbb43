#pragma once

#include "platform/inikeystore.h"
#include "runtime/component.h"

#include <QStringList>

class TForm;

// Saves named published properties of the components on its window and restores them at the
// next start. Each item line names a component, a property, a default, a section (a key of the
// settings store) and a value name:
//
//   component;property;default;section;key;unused;restore-only
//
// Values are kept as text: numbers in decimal, colours and cursors by name, Booleans as 1/0,
// enumerations by name, sets as [a,b], string lists with "|" between lines, component
// references by name, events by handler name.
class TIniOut : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(QStringList Items READ Items WRITE SetItems)
    Q_PROPERTY(tarnwick::reg::TRegRoots RegistryRoot READ RegistryRoot WRITE SetRegistryRoot)
public:
    explicit TIniOut(QObject* owner = nullptr);

    // Kept only: the extension becomes ".INI" and the whole text upper case.
    QString FileName() const { return m_fileName; }
    void SetFileName(const QString& name);
    QStringList Items() const { return m_items; }
    void SetItems(const QStringList& items) { m_items = items; }
    tarnwick::reg::TRegRoots RegistryRoot() const { return m_root; }
    void SetRegistryRoot(tarnwick::reg::TRegRoots root) { m_root = root; }

    // Restores every item; a stored value, else the item's default.
    Q_INVOKABLE void LoadProperties();
    // Stores every item that is not restore-only.
    Q_INVOKABLE void SaveProperties();

    // A property as stored text; with an empty property name, every published property of obj.
    static QString PropertyToText(const QObject* obj, const QByteArray& property,
                                  const TForm* owner);
    // Applies stored text to a property (or positionally to all); a text that does not convert
    // leaves the property as it was. Returns false when nothing was applied.
    static bool TextToProperty(QObject* obj, const QByteArray& property, const QString& text,
                               TForm* owner);

    // String lists as one text: lines joined by "|"; the reverse splits at every "|".
    static QString ListToText(const QStringList& lines);
    static QStringList TextToList(const QString& text);

private:
    struct Item {
        QString component, property, defaultText, section, key, unused, restoreOnly;
        bool isItem() const;
    };
    static Item parseItem(const QString& line);
    TForm* ownerForm() const;
    QObject* findTarget(const QString& name) const;

    QString m_fileName;
    QStringList m_items;
    tarnwick::reg::TRegRoots m_root = tarnwick::reg::CURRENT_USER;
};

void RegisterSettingsComponents();
