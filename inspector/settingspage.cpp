// Settings page of the site inspector: every row of table profile as a tree, edited in place.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "settingspage.h"

#include "profile.h"
#include "propertyitemmodel.h"

#include <QCheckBox>
#include <QColor>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

/*
    One node of the key path. A node that is itself a stored key (`schedule/dilution` has
    children such as `schedule/dilution/1/10`) carries its value too; pure groups are read-only.
*/
class SettingItem : public PropertyItem
{
public:
    SettingItem(const QString &name, const QString &path)
        : PropertyItem(name, QVariant())
        , m_path(path)
    {
        setEditable(false);
    }

    QString path() const { return m_path; }

    void bind(Profile *store, const QVariant &value)
    {
        m_store = store;
        PropertyItem::setValue(value, false);
        setEditable(true);
    }

    void setValue(const QVariant &value, bool notify) override
    {
        PropertyItem::setValue(value, notify);
        // An edit from the view; loading the tree passes notify = false.
        if (notify && m_store)
            m_store->setValue(m_path, value, true);
    }

    QVariant data(int role) const override
    {
        if (role == Qt::DecorationRole) {
            // Colours are stored as their "#rrggbb" name.
            static const QRegularExpression colourName(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
            const QVariant stored = value();
            if (stored.userType() == QMetaType::QString
                && colourName.match(stored.toString()).hasMatch())
                return QColor(stored.toString());
        }
        return PropertyItem::data(role);
    }

private:
    QString m_path;
    Profile *m_store = nullptr;
};

/*
    Edits every value as text and gives it back with the type it was stored with, so an
    integer row stays an integer for the application that reads it (and a spin box with two
    decimals cannot round 0.0025 away).
*/
class TextDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &) const override
    {
        auto *editor = new QLineEdit(parent);
        editor->setFrame(false);
        return editor;
    }

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        static_cast<QLineEdit *>(editor)->setText(index.data(Qt::EditRole).toString());
    }

    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override
    {
        const QString text = static_cast<QLineEdit *>(editor)->text();
        const QVariant old = index.data(Qt::EditRole);
        QVariant typed = text;
        bool ok = false;
        switch (old.userType()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: {
            const qlonglong number = text.toLongLong(&ok);
            if (ok)
                typed = number;
            break;
        }
        case QMetaType::Double: {
            const double number = text.toDouble(&ok);
            if (ok)
                typed = number;
            break;
        }
        default:
            break;
        }
        model->setData(index, typed, Qt::EditRole);
    }
};

// Matches the whole key path, so "schedule/test" shows that group with everything under it.
class SettingsFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setText(const QString &text)
    {
        m_text = text;
        invalidateFilter();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return section == 0 ? SettingsPage::tr("Setting") : SettingsPage::tr("Value");
        return QSortFilterProxyModel::headerData(section, orientation, role);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        // The swatch belongs beside the value, not the name.
        if (role == Qt::DecorationRole && index.column() == 0)
            return QVariant();
        return QSortFilterProxyModel::data(index, role);
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (m_text.isEmpty())
            return true;
        auto *model = static_cast<PropertyItemModel *>(sourceModel());
        const auto *item
            = static_cast<const SettingItem *>(model->itemFromIndex(model->index(row, 0, parent)));
        return item->path().contains(m_text, Qt::CaseInsensitive)
            || item->value().toString().contains(m_text, Qt::CaseInsensitive);
    }

private:
    QString m_text;
};

// Why profile.db cannot be edited now: another connection holds a lock on it, which an exclusive
// lock taken without waiting finds at once; empty when it is free. The lock is let go at once.
QString heldBy()
{
    const QString name = QStringLiteral("settings-edit-probe");
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QStringLiteral("profile.db"));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        QSqlQuery query(db);
        if (!db.open())
            reason = db.lastError().text();
        else if (!query.exec(QStringLiteral("begin exclusive")))
            reason = query.lastError().text();
        else
            query.exec(QStringLiteral("rollback"));
    }
    QSqlDatabase::removeDatabase(name);
    return reason;
}

} // namespace

SettingsPage::SettingsPage(QWidget *parent)
    : QWidget(parent)
    , m_model(new PropertyItemModel(this))
    , m_proxy(new SettingsFilter(this))
    , m_view(new QTreeView(this))
    , m_filter(new QLineEdit(this))
    , m_edit(new QCheckBox(tr("&Edit settings"), this))
    , m_notice(new QLabel(this))
{
    m_proxy->setSourceModel(m_model);
    m_proxy->setRecursiveFilteringEnabled(true);
    m_view->setModel(m_proxy);
    m_view->setItemDelegate(new TextDelegate(m_view));
    m_view->setObjectName(QStringLiteral("settingsTree"));
    m_view->setAccessibleName(tr("Settings"));
    m_view->header()->resizeSection(0, 280);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_filter->setObjectName(QStringLiteral("settingsFilter"));
    m_filter->setPlaceholderText(tr("Filter by key or value"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(tr("Filter"));
    // The filter's keyboard path: it has no label to carry a mnemonic.
    // Window-wide, yet only while this page is the one shown.
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, m_filter,
            [this] { m_filter->setFocus(Qt::ShortcutFocusReason); });
    m_edit->setObjectName(QStringLiteral("settingsEdit"));
    m_edit->setAccessibleName(tr("Edit settings"));
    m_edit->setToolTip(tr("Values are read-only until this is on; a changed value is written "
                          "to profile.db at once."));
    m_notice->setObjectName(QStringLiteral("settingsNotice"));
    m_notice->setWordWrap(true);
    m_notice->hide();

    auto *layout = new QVBoxLayout(this);
    auto *bar = new QHBoxLayout;
    bar->addWidget(m_filter, 1);
    bar->addWidget(m_edit);
    layout->addLayout(bar);
    layout->addWidget(m_notice);
    layout->addWidget(m_view);

    connect(m_edit, &QCheckBox::clicked, this, [this](bool on) { setEditing(on); });

    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString &text) {
        static_cast<SettingsFilter *>(m_proxy)->setText(text);
        m_view->expandAll();
    });
}

void SettingsPage::setStore(Profile *store)
{
    m_store = store;
    const QList<PropertyItem *> old = m_model->rootItem()->children();
    for (PropertyItem *item : old) {
        m_model->rootItem()->remove(item);
        delete item;
    }
    if (!store)
        return;

    QStringList keys = store->keys();
    keys.sort(Qt::CaseInsensitive);
    QHash<QString, SettingItem *> nodes; // by key path
    for (const QString &key : qAsConst(keys)) {
        const QVariant value = store->value(key);
        if (!value.isValid())
            continue; // looked up, never stored
        PropertyItem *parent = m_model->rootItem();
        const QStringList parts = key.split(QLatin1Char('/'));
        SettingItem *node = nullptr;
        for (int i = 0; i < parts.size(); ++i) {
            const QString path = parts.mid(0, i + 1).join(QLatin1Char('/'));
            node = nodes.value(path);
            if (!node) {
                node = new SettingItem(parts.at(i), path);
                parent->append(node);
                nodes.insert(path, node);
            }
            parent = node;
        }
        node->bind(store, value);
    }
    m_view->expandAll();
}

bool SettingsPage::setEditing(bool on)
{
    const QString reason = on ? heldBy() : QString();
    const bool editing = on && reason.isEmpty();
    // The box has already ticked itself when a click asks.
    const bool changed = editing != m_editing;
    m_editing = editing;
    m_edit->setChecked(editing);
    m_view->setEditTriggers(editing ? QAbstractItemView::DoubleClicked
                                    | QAbstractItemView::EditKeyPressed
                                    | QAbstractItemView::SelectedClicked
                                    : QAbstractItemView::NoEditTriggers);
    m_notice->setText(reason.isEmpty() ? QString()
                                       : tr("profile.db is in use by another program (is the "
                                            "analyser running?): the settings stay read-only. "
                                            "(%1)")
                                             .arg(reason));
    m_notice->setVisible(!reason.isEmpty());
    if (changed)
        emit editingChanged(editing);
    return editing == on;
}

bool SettingsPage::isEditing() const
{
    return m_editing;
}

QModelIndex SettingsPage::valueIndex(const QString &key) const
{
    QModelIndex parent;
    QModelIndex found;
    for (const QString &part : key.split(QLatin1Char('/'))) {
        found = QModelIndex();
        for (int row = 0; row < m_proxy->rowCount(parent); ++row) {
            const QModelIndex name = m_proxy->index(row, 0, parent);
            if (name.data().toString() == part) {
                found = name;
                break;
            }
        }
        if (!found.isValid())
            return QModelIndex();
        parent = found;
    }
    return found.siblingAtColumn(1);
}
