// Tree of named properties (PropertyItem) and the two-column item model over it.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROPERTYITEMMODEL_H
#define PROPERTYITEMMODEL_H

#include "core_global.h"

#include <QAbstractItemModel>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

class PropertyItemModel;

/*!
    \brief A named value in a property tree; owns its children and reports its changes to its
    model and, through childChanged(), to its ancestors.

    Deleting an item that is still attached takes it out of its parent first, so the model
    stays consistent.
*/
class CORE_EXPORT PropertyItem
{
public:
    PropertyItem();
    PropertyItem(const QString &name, const QVariant &value);
    virtual ~PropertyItem();

    virtual int type() const;
    virtual void setValue(const QVariant &value, bool notify);
    /*! \brief Restores the item; the base class resets every child in row order. */
    virtual void reset();
    virtual QVariant data(int role) const;
    /*! \brief Stores \a value under \a role (Qt::EditRole means Qt::DisplayRole). */
    virtual void setData(const QVariant &value, int role);

    PropertyItem *parent() const { return m_parent; }
    PropertyItemModel *model() const { return m_model; }
    QList<PropertyItem *> children() const { return m_children; }

    QString name() const { return m_name; }
    /*! \brief Renames the item; an attached item reports the changed name cell. */
    void setName(const QString &name);
    QVariant value() const { return m_roleData.value(Qt::DisplayRole); }

    Qt::ItemFlags flags() const { return m_flags; }
    /*! \brief Sets the flags; an attached item reports the cells whose flags changed. */
    void setFlags(Qt::ItemFlags flags);
    void changeFlags(Qt::ItemFlags flags, bool on);
    void setEditable(bool editable) { changeFlags(Qt::ItemIsEditable, editable); }
    bool isEditable() const { return m_flags.testFlag(Qt::ItemIsEditable); }

    /*! \brief Adds \a child as the last row, taking it out of its previous parent first. */
    void append(PropertyItem *child);
    /*! \brief Adds \a child so that it ends at row \a pos, clamped to 0 … child count. */
    void insert(int pos, PropertyItem *child);
    /*! \brief Takes \a child out without deleting it; the caller owns it again. */
    void remove(PropertyItem *child);

    QModelIndex index() const;
    QModelIndex valueIndex() const;

protected:
    /*! \brief Called when the value of \a child or of one of its descendants changed. */
    virtual void childChanged(PropertyItem *child);

    void emitDataChanged();
    void notifyParent();
    void setParentAndModel(PropertyItem *parent, PropertyItemModel *model);

private:
    friend class PropertyItemModel;
    explicit PropertyItem(PropertyItemModel *model);
    Q_DISABLE_COPY(PropertyItem)

    bool canAdopt(const PropertyItem *child) const;
    void emitCellsChanged(int firstColumn, int lastColumn = 1);

    QString m_name;
    QMap<int, QVariant> m_roleData;
    PropertyItem *m_parent = nullptr;
    PropertyItemModel *m_model = nullptr;
    QList<PropertyItem *> m_children;
    Qt::ItemFlags m_flags = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
};

/*!
    \brief Item model with the columns name and value over an invisible root PropertyItem.

    Children hang off column 0 only, as Qt's views and proxies expect.
*/
class CORE_EXPORT PropertyItemModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit PropertyItemModel(QObject *parent = nullptr);
    ~PropertyItemModel() override;

    PropertyItem *rootItem() const { return m_root; }
    void append(PropertyItem *item);

    /*! \brief The item behind \a index; the root item for an invalid index. */
    PropertyItem *itemFromIndex(const QModelIndex &index) const;
    QModelIndex nameIndexFromItem(const PropertyItem *item) const;
    QModelIndex valueIndexFromItem(const PropertyItem *item) const;

    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QModelIndex buddy(const QModelIndex &index) const override;

public slots:
    /*! \brief Resets every item of the tree. */
    void revert() override;

private:
    friend class PropertyItem;
    QModelIndex indexFromItem(const PropertyItem *item, int column) const;

    PropertyItem *m_root;
};

#endif // PROPERTYITEMMODEL_H
