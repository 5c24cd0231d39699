// Tree of named properties (PropertyItem) and the two-column item model over it.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "propertyitemmodel.h"

#include "logging_p.h"

#include <utility>

PropertyItem::PropertyItem() = default;

PropertyItem::PropertyItem(const QString &name, const QVariant &value)
    : m_name(name)
{
    setValue(value, false);
}

PropertyItem::PropertyItem(PropertyItemModel *model)
    : m_model(model)
{
}

PropertyItem::~PropertyItem()
{
    // Deleted on its own while attached: leave the parent (and the model, with its signals)
    // so that nothing keeps a dangling pointer to this item.
    if (m_parent)
        m_parent->remove(this);

    // The children die with this item, so they detach silently instead of leaving one by one.
    const QList<PropertyItem *> children = std::exchange(m_children, {});
    for (PropertyItem *child : children) {
        child->m_parent = nullptr;
        child->m_model = nullptr;
        delete child;
    }
}

int PropertyItem::type() const
{
    return 0;
}

void PropertyItem::setValue(const QVariant &value, bool notify)
{
    m_roleData.insert(Qt::DisplayRole, value);
    emitDataChanged();
    if (notify)
        notifyParent();
}

void PropertyItem::reset()
{
    const QList<PropertyItem *> children = m_children;
    for (PropertyItem *child : children)
        child->reset();
}

QVariant PropertyItem::data(int role) const
{
    return m_roleData.value(role);
}

void PropertyItem::setData(const QVariant &value, int role)
{
    if (role == Qt::EditRole)
        role = Qt::DisplayRole;

    // QVariant's == converts between types (1 == "1", 0 == false); a value of another type is
    // a change and must be stored.
    const QVariant stored = m_roleData.value(role);
    if (stored.userType() == value.userType() && stored == value)
        return;

    if (role == Qt::DisplayRole) {
        setValue(value, true);
        return;
    }
    if (value.isValid())
        m_roleData.insert(role, value);
    else
        m_roleData.remove(role);
    // Roles other than the value show in the name cell too.
    emitCellsChanged(0);
}

void PropertyItem::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    // Views and filtering proxies keep what the name cell showed; without the signal a
    // recursive filter keeps stale mappings and fails on a later insertion.
    emitCellsChanged(0, 0);
}

void PropertyItem::setFlags(Qt::ItemFlags flags)
{
    const Qt::ItemFlags changed = m_flags ^ flags;
    if (!changed)
        return;
    m_flags = flags;
    // The name cell never shows the editable flag.
    const bool nameCellChanged = (changed & ~Qt::ItemIsEditable) != 0;
    emitCellsChanged(nameCellChanged ? 0 : 1, 1);
}

void PropertyItem::changeFlags(Qt::ItemFlags flags, bool on)
{
    setFlags(on ? m_flags | flags : m_flags & ~flags);
}

void PropertyItem::append(PropertyItem *child)
{
    insert(m_children.size(), child);
}

void PropertyItem::insert(int pos, PropertyItem *child)
{
    if (!canAdopt(child))
        return;

    // Leave the old parent completely before the new parent announces the row; otherwise the
    // item sits in two lists while views handle the removal.
    if (child->m_parent)
        child->m_parent->remove(child);

    pos = qBound(0, pos, m_children.size());
    if (m_model)
        m_model->beginInsertRows(index(), pos, pos);
    m_children.insert(pos, child);
    child->setParentAndModel(this, m_model);
    if (m_model)
        m_model->endInsertRows();
}

void PropertyItem::remove(PropertyItem *child)
{
    const int row = m_children.indexOf(child);
    if (row < 0)
        return;

    if (m_model)
        m_model->beginRemoveRows(index(), row, row);
    m_children.removeAt(row);
    child->setParentAndModel(nullptr, nullptr);
    if (m_model)
        m_model->endRemoveRows();
}

QModelIndex PropertyItem::index() const
{
    return m_model ? m_model->nameIndexFromItem(this) : QModelIndex();
}

QModelIndex PropertyItem::valueIndex() const
{
    return m_model ? m_model->valueIndexFromItem(this) : QModelIndex();
}

void PropertyItem::childChanged(PropertyItem *child)
{
    Q_UNUSED(child)
    notifyParent();
}

void PropertyItem::emitDataChanged()
{
    emitCellsChanged(1);
}

void PropertyItem::notifyParent()
{
    if (m_parent)
        m_parent->childChanged(this);
}

void PropertyItem::setParentAndModel(PropertyItem *parent, PropertyItemModel *model)
{
    if (parent != m_parent && m_parent)
        m_parent->remove(this);
    if (model != m_model) {
        for (PropertyItem *child : qAsConst(m_children))
            child->setParentAndModel(this, model);
    }
    m_parent = parent;
    m_model = model;
}

bool PropertyItem::canAdopt(const PropertyItem *child) const
{
    if (!child) {
        qCWarning(lcPropertyModel, "PropertyItem::insert: null child");
        return false;
    }
    if (child->m_model && child->m_model->rootItem() == child) {
        qCWarning(lcPropertyModel,
                  "PropertyItem::insert: the root item of a model cannot become a child");
        return false;
    }
    for (const PropertyItem *item = this; item; item = item->m_parent) {
        if (item == child) {
            qCWarning(lcPropertyModel,
                      "PropertyItem::insert: an item cannot become a child of itself or of its "
                      "descendants");
            return false;
        }
    }
    return true;
}

void PropertyItem::emitCellsChanged(int firstColumn, int lastColumn)
{
    if (!m_model)
        return;
    const QModelIndex first = m_model->indexFromItem(this, firstColumn);
    const QModelIndex last = m_model->indexFromItem(this, lastColumn);
    if (first.isValid() && last.isValid())
        emit m_model->dataChanged(first, last);
}

PropertyItemModel::PropertyItemModel(QObject *parent)
    : QAbstractItemModel(parent)
    , m_root(new PropertyItem(this))
{
}

PropertyItemModel::~PropertyItemModel()
{
    delete m_root;
}

void PropertyItemModel::append(PropertyItem *item)
{
    m_root->append(item);
}

PropertyItem *PropertyItemModel::itemFromIndex(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<PropertyItem *>(index.internalPointer()) : m_root;
}

QModelIndex PropertyItemModel::nameIndexFromItem(const PropertyItem *item) const
{
    return indexFromItem(item, 0);
}

QModelIndex PropertyItemModel::valueIndexFromItem(const PropertyItem *item) const
{
    return indexFromItem(item, 1);
}

QModelIndex PropertyItemModel::indexFromItem(const PropertyItem *item, int column) const
{
    // An item of another model must not get an index of this one.
    if (!item || item == m_root || !item->m_parent || item->m_model != this)
        return QModelIndex();
    const int row = item->m_parent->m_children.indexOf(const_cast<PropertyItem *>(item));
    if (row < 0)
        return QModelIndex();
    return createIndex(row, column, const_cast<PropertyItem *>(item));
}

QModelIndex PropertyItemModel::index(int row, int column, const QModelIndex &parent) const
{
    // Children hang off the name column only.
    if (row < 0 || column < 0 || column > 1 || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    const PropertyItem *item = itemFromIndex(parent);
    if (!item || row >= item->m_children.size())
        return QModelIndex();
    return createIndex(row, column, item->m_children.at(row));
}

QModelIndex PropertyItemModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    const PropertyItem *item = itemFromIndex(index);
    if (!item || item == m_root)
        return QModelIndex();
    return nameIndexFromItem(item->m_parent);
}

int PropertyItemModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    const PropertyItem *item = itemFromIndex(parent);
    return item ? item->m_children.size() : 0;
}

int PropertyItemModel::columnCount(const QModelIndex &parent) const
{
    Q_UNUSED(parent)
    return 2;
}

QVariant PropertyItemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const PropertyItem *item = itemFromIndex(index);
    if (!item)
        return QVariant();
    if (index.column() == 0 && (role == Qt::DisplayRole || role == Qt::EditRole))
        return item->name();
    return item->data(role == Qt::EditRole ? int(Qt::DisplayRole) : role);
}

bool PropertyItemModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != 1)
        return false;
    PropertyItem *item = itemFromIndex(index);
    if (!item || item == m_root)
        return false;
    item->setData(value, role);
    return true;
}

QVariant PropertyItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return section == 0 ? tr("名称") : tr("值");
    return QAbstractItemModel::headerData(section, orientation, role);
}

Qt::ItemFlags PropertyItemModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const PropertyItem *item = itemFromIndex(index);
    if (!item || item == m_root)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = item->flags();
    if (index.column() == 0)
        flags &= ~Qt::ItemIsEditable;
    return flags;
}

QModelIndex PropertyItemModel::buddy(const QModelIndex &index) const
{
    if (index.isValid() && index.column() == 0)
        return this->index(index.row(), 1, parent(index));
    return index;
}

void PropertyItemModel::revert()
{
    m_root->reset();
}
