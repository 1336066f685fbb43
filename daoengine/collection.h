#pragma once

#include "automation/dispatch.h"

#include <QList>

#include <functional>

namespace tarnwick::daoengine {

// A DAO collection: Count, Item by index or name, Append, and Refresh, which re-reads the items
// from their source when the collection has one.
class Collection : public automation::AutomationObject {
    Q_OBJECT
    Q_PROPERTY(int Count READ Count)
public:
    using Source = std::function<QList<automation::Dispatch>()>;
    explicit Collection(Source source = {}) : m_source(std::move(source)) { Refresh(); }

    int Count() const { return static_cast<int>(m_items.size()); }
    const QList<automation::Dispatch>& items() const { return m_items; }

    Q_INVOKABLE QVariant Item(QVariant index) const;
    Q_INVOKABLE void Append(QVariant object);
    Q_INVOKABLE void Refresh();

    static automation::Dispatch make(Source source = {}) {
        return std::make_shared<Collection>(std::move(source));
    }

private:
    Source m_source;
    QList<automation::Dispatch> m_items;
};

} // namespace tarnwick::daoengine
