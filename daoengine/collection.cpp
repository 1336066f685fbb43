#include "daoengine/collection.h"

namespace tarnwick::daoengine {

using namespace automation;

QVariant Collection::Item(QVariant index) const {
    bool isNumber = false;
    const int i = index.toInt(&isNumber);
    if (isNumber && index.metaType() != QMetaType::fromType<QString>()) {
        if (i < 0 || i >= Count())
            throw EAutomationError(
                QStringLiteral("Item not found in this collection: index %1").arg(i));
        return ToVariant(m_items[i]);
    }
    const QString name = ArgText(index);
    for (const Dispatch& item : m_items)
        if (Get(item, QStringLiteral("Name")).toString().compare(name, Qt::CaseInsensitive) == 0)
            return ToVariant(item);
    throw EAutomationError(QStringLiteral("Item not found in this collection: %1").arg(name));
}

void Collection::Append(QVariant object) {
    m_items.append(ToDispatch(object));
}

void Collection::Refresh() {
    if (m_source) m_items = m_source();
}

} // namespace tarnwick::daoengine
