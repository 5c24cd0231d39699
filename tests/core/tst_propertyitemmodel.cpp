// Tests of the property tree and its item model.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "propertyitemmodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTreeView>
#include <QtTest>

#include <memory>

namespace {

// Records what the tree does to it: child notifications, resets and its own deletion.
class RecordingItem : public PropertyItem
{
public:
    RecordingItem(const QString &name, const QVariant &value, QStringList *log = nullptr,
                  int *deaths = nullptr)
        : PropertyItem(name, value)
        , m_default(value)
        , m_log(log)
        , m_deaths(deaths)
    {
    }
    ~RecordingItem() override
    {
        if (m_deaths)
            ++*m_deaths;
    }
    int type() const override { return 1; }
    void reset() override
    {
        if (m_log)
            m_log->append(QStringLiteral("reset ") + name());
        setValue(m_default, false);
        PropertyItem::reset();
    }

protected:
    void childChanged(PropertyItem *child) override
    {
        if (m_log)
            m_log->append(name() + QStringLiteral("<-") + child->name());
        PropertyItem::childChanged(child);
    }

private:
    QVariant m_default;
    QStringList *m_log;
    int *m_deaths;
};

QStringList childNames(const PropertyItem *item)
{
    QStringList names;
    for (const PropertyItem *child : item->children())
        names << child->name();
    return names;
}

// Writes every row signal of a model into a log, tagged, with the parent item's name.
void recordRowSignals(PropertyItemModel *model, const QString &tag, QStringList *log)
{
    const auto record = [=](const char *what) {
        return [=](const QModelIndex &parent, int first, int last) {
            const PropertyItem *item = model->itemFromIndex(parent);
            const QString parentName
                = item == model->rootItem() ? QStringLiteral("root") : item->name();
            log->append(QStringLiteral("%1 %2 %3 %4-%5")
                            .arg(tag, QLatin1String(what), parentName)
                            .arg(first)
                            .arg(last));
        };
    };
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeInserted, record("aboutToInsert"));
    QObject::connect(model, &QAbstractItemModel::rowsInserted, record("inserted"));
    QObject::connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, record("aboutToRemove"));
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, record("removed"));
}

std::unique_ptr<QAbstractItemModelTester> watch(QAbstractItemModel *model)
{
    return std::make_unique<QAbstractItemModelTester>(
        model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}

using Items = QMap<QString, PropertyItem *>;

// Grows RecordingItems from paths ("a", "a/a1", "a/a1/a1x") under the model's root, each with its
// name as value; returns them by name, the root as "root".
Items grow(PropertyItemModel *model, const QStringList &paths, QStringList *log = nullptr,
           int *deaths = nullptr)
{
    Items items {{QStringLiteral("root"), model->rootItem()}};
    for (const QString &path : paths) {
        const QString name = path.section(QLatin1Char('/'), -1);
        const QString parent = path.contains(QLatin1Char('/'))
            ? path.section(QLatin1Char('/'), -2, -2)
            : QStringLiteral("root");
        auto *item = new RecordingItem(name, name, log, deaths);
        items.value(parent)->append(item);
        items.insert(name, item);
    }
    return items;
}

const QStringList standardTree {"a", "a/a1", "a/a1/a1x", "a/a2", "b", "b/b1"};

} // namespace

class tst_PropertyItemModel : public QObject
{
    Q_OBJECT
private slots:
    void freshModel();
    void insertRows_data();
    void insertRows();
    void removeRow();
    void reparent_data();
    void reparent();
    void refusedChild_data();
    void refusedChild();
    void valueThroughModel();
    void otherRoles();
    void flagsAndBuddy();
    void index_data();
    void index();
    void revertResetsInRowOrder();
    void deletingModelDeletesEveryItem();
    void deletingAttachedItem_data();
    void deletingAttachedItem();
    void editInTreeView_data();
    void editInTreeView();
    void attributeChangesNotify_data();
    void attributeChangesNotify();
    void renameKeepsRecursiveFilterSound();
    void randomOperationsUnderRecursiveFilter();
};

void tst_PropertyItemModel::freshModel()
{
    PropertyItemModel model;
    const auto tester = watch(&model);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("名称"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("值"));
    QCOMPARE(model.rootItem()->model(), &model);
    QVERIFY(!model.rootItem()->index().isValid());
}

void tst_PropertyItemModel::insertRows_data()
{
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<int>("pos"); // -1: append
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("row");

    QTest::newRow("append top-level") << "root" << -1 << QStringList {"a", "b", "n"} << 2;
    QTest::newRow("append to leaf") << "a2" << -1 << QStringList {"n"} << 0;
    QTest::newRow("insert in the middle") << "a" << 1 << QStringList {"a1", "n", "a2"} << 1;
    QTest::newRow("insert negative") << "a" << -5 << QStringList {"n", "a1", "a2"} << 0;
    QTest::newRow("insert beyond count") << "a" << 7 << QStringList {"a1", "a2", "n"} << 2;
}

void tst_PropertyItemModel::insertRows()
{
    QFETCH(QString, parentName);
    QFETCH(int, pos);
    QFETCH(QStringList, expected);
    QFETCH(int, row);

    PropertyItemModel model;
    const Items items = grow(&model, standardTree);
    const auto tester = watch(&model);
    QSignalSpy aboutToInsert(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    PropertyItem *parent = items.value(parentName);
    auto *item = new PropertyItem(QStringLiteral("n"), QStringLiteral("value"));
    if (pos == -1)
        parent->append(item);
    else
        parent->insert(pos, item);

    QCOMPARE(childNames(parent), expected);
    QCOMPARE(item->parent(), parent);
    QCOMPARE(item->model(), &model);
    for (QSignalSpy *spy : {&aboutToInsert, &inserted}) {
        QCOMPARE(spy->count(), 1);
        QCOMPARE(spy->first().at(0).toModelIndex(), parent->index());
        QCOMPARE(spy->first().at(1).toInt(), row);
        QCOMPARE(spy->first().at(2).toInt(), row);
    }
    const QModelIndex name = model.index(row, 0, parent->index());
    QCOMPARE(model.itemFromIndex(name), item);
    QCOMPARE(model.data(name, Qt::DisplayRole), QVariant(QStringLiteral("n")));
    QCOMPARE(model.data(name, Qt::EditRole), QVariant(QStringLiteral("n")));
    QCOMPARE(model.data(item->valueIndex(), Qt::DisplayRole), QVariant(QStringLiteral("value")));
    QCOMPARE(model.data(item->valueIndex(), Qt::EditRole), QVariant(QStringLiteral("value")));
}

void tst_PropertyItemModel::removeRow()
{
    PropertyItemModel model;
    const Items items = grow(&model, standardTree);
    const auto tester = watch(&model);
    QStringList log;
    recordRowSignals(&model, QStringLiteral("m"), &log);
    PropertyItem *a = items.value("a");
    PropertyItem *b = items.value("b");

    a->remove(b); // not a child of a
    QVERIFY(log.isEmpty());
    QCOMPARE(b->parent(), model.rootItem());

    std::unique_ptr<PropertyItem> a1(items.value("a1"));
    a->remove(a1.get());
    QCOMPARE(log, QStringList({"m aboutToRemove a 0-0", "m removed a 0-0"}));
    QCOMPARE(childNames(a), QStringList {"a2"});
    QVERIFY(!a1->parent());
    QVERIFY(!a1->model());
    QVERIFY(!items.value("a1x")->model());
    QCOMPARE(items.value("a1x")->parent(), a1.get());
    QVERIFY(!model.nameIndexFromItem(a1.get()).isValid());
}

// Moves a1 (with its child a1x) out of the standard tree of m1; m2 holds c(c1).
void tst_PropertyItemModel::reparent_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("pos"); // -1: append
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("modelName");
    QTest::addColumn<QStringList>("signalLog");

    const QString removing = QStringLiteral("m1 aboutToRemove a 0-0");
    const QString removed = QStringLiteral("m1 removed a 0-0");
    QTest::newRow("other parent, same model")
        << "b" << -1 << QStringList {"b1", "a1"} << "m1"
        << QStringList {removing, removed, "m1 aboutToInsert b 1-1", "m1 inserted b 1-1"};
    QTest::newRow("same parent, to the end")
        << "a" << -1 << QStringList {"a2", "a1"} << "m1"
        << QStringList {removing, removed, "m1 aboutToInsert a 1-1", "m1 inserted a 1-1"};
    QTest::newRow("same parent, same row")
        << "a" << 0 << QStringList {"a1", "a2"} << "m1"
        << QStringList {removing, removed, "m1 aboutToInsert a 0-0", "m1 inserted a 0-0"};
    QTest::newRow("item of another model")
        << "c" << 0 << QStringList {"a1", "c1"} << "m2"
        << QStringList {removing, removed, "m2 aboutToInsert c 0-0", "m2 inserted c 0-0"};
    QTest::newRow("top level of another model")
        << "root2" << -1 << QStringList {"c", "a1"} << "m2"
        << QStringList {removing, removed, "m2 aboutToInsert root 1-1", "m2 inserted root 1-1"};
    QTest::newRow("free item") << "free" << -1 << QStringList {"a1"} << QString()
                               << QStringList {removing, removed};
}

void tst_PropertyItemModel::reparent()
{
    QFETCH(QString, target);
    QFETCH(int, pos);
    QFETCH(QStringList, expected);
    QFETCH(QString, modelName);
    QFETCH(QStringList, signalLog);

    PropertyItemModel m1;
    PropertyItemModel m2;
    PropertyItem freeItem;
    Items items = grow(&m1, standardTree);
    items.insert(grow(&m2, {"c", "c/c1"}));
    items.insert(QStringLiteral("root2"), m2.rootItem());
    items.insert(QStringLiteral("free"), &freeItem);
    const auto tester1 = watch(&m1);
    const auto tester2 = watch(&m2);
    QStringList log;
    recordRowSignals(&m1, QStringLiteral("m1"), &log);
    recordRowSignals(&m2, QStringLiteral("m2"), &log);
    PropertyItem *a1 = items.value("a1");
    PropertyItem *a1x = items.value("a1x");

    PropertyItem *newParent = items.value(target);
    if (pos == -1)
        newParent->append(a1);
    else
        newParent->insert(pos, a1);

    QCOMPARE(log, signalLog);
    QCOMPARE(childNames(newParent), expected);
    if (target != "a")
        QCOMPARE(childNames(items.value("a")), QStringList {"a2"});
    QCOMPARE(a1->parent(), newParent);
    PropertyItemModel *model = modelName.isEmpty() ? nullptr : (modelName == "m1" ? &m1 : &m2);
    QCOMPARE(a1->model(), model);
    QCOMPARE(a1x->model(), model);
    if (model) {
        QCOMPARE(model->itemFromIndex(a1x->index()), a1x);
        QCOMPARE(model->parent(a1x->index()), a1->index());
        QCOMPARE(model->parent(a1->index()), newParent->index());
    }
    if (model != &m1)
        QVERIFY(!m1.nameIndexFromItem(a1).isValid());
}

// Appending that would make a cycle or steal a model's root is refused and changes nothing.
void tst_PropertyItemModel::refusedChild_data()
{
    QTest::addColumn<QString>("childName");
    QTest::addColumn<QString>("parentName");
    QTest::newRow("null") << QString() << "a";
    QTest::newRow("itself") << "a"
                            << "a";
    QTest::newRow("ancestor under its descendant") << "a"
                                                   << "a1x";
    QTest::newRow("root of the model") << "root"
                                       << "a1x";
}

void tst_PropertyItemModel::refusedChild()
{
    QFETCH(QString, childName);
    QFETCH(QString, parentName);

    PropertyItemModel model;
    const Items items = grow(&model, standardTree);
    const auto tester = watch(&model);
    QStringList log;
    recordRowSignals(&model, QStringLiteral("m"), &log);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^PropertyItem::insert")));
    items.value(parentName)->append(items.value(childName));

    QVERIFY(log.isEmpty());
    QCOMPARE(childNames(model.rootItem()), QStringList({"a", "b"}));
    QCOMPARE(childNames(items.value("a")), QStringList({"a1", "a2"}));
    QCOMPARE(childNames(items.value("a1")), QStringList {"a1x"});
    QVERIFY(!items.value("a1x")->children().size());
    QVERIFY(!model.rootItem()->parent());
}

void tst_PropertyItemModel::valueThroughModel()
{
    PropertyItemModel model;
    QStringList log;
    const Items items = grow(&model, {"top", "top/mid", "top/mid/leaf", "top/sibling"}, &log);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    PropertyItem *leaf = items.value("leaf");
    const QModelIndex value = leaf->valueIndex();

    QVERIFY(model.setData(value, QStringLiteral("new"), Qt::EditRole));
    QCOMPARE(leaf->value(), QVariant(QStringLiteral("new")));
    QVERIFY(!leaf->data(Qt::EditRole).isValid());
    QCOMPARE(model.data(value, Qt::EditRole), QVariant(QStringLiteral("new")));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex(), value);
    QCOMPARE(changed.first().at(1).toModelIndex(), value);
    QCOMPARE(log, QStringList({"mid<-leaf", "top<-mid"}));

    // The same value again: nothing happens, yet the call succeeds.
    QVERIFY(model.setData(value, QStringLiteral("new"), Qt::EditRole));
    QVERIFY(model.setData(value, QStringLiteral("new"), Qt::DisplayRole));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(log.size(), 2);

    // Equal after conversion is not the same value: the new type is kept.
    QVERIFY(model.setData(value, 1));
    QVERIFY(model.setData(value, QStringLiteral("1")));
    QCOMPARE(leaf->value().userType(), int(QMetaType::QString));
    QCOMPARE(changed.count(), 3);

    // Only the value cell of an item takes a value.
    QVERIFY(!model.setData(leaf->index(), QStringLiteral("x")));
    QVERIFY(!model.setData(QModelIndex(), QStringLiteral("x")));
    QCOMPARE(leaf->name(), QStringLiteral("leaf"));
    QVERIFY(!model.rootItem()->value().isValid());
    QCOMPARE(changed.count(), 3);
}

void tst_PropertyItemModel::otherRoles()
{
    PropertyItemModel model;
    QStringList log;
    const Items items = grow(&model, {"top", "top/item"}, &log);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    PropertyItem *item = items.value("item");

    QVERIFY(model.setData(item->valueIndex(), QStringLiteral("tip"), Qt::ToolTipRole));
    QCOMPARE(item->data(Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(model.data(item->index(), Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(model.data(item->valueIndex(), Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(item->value(), QVariant(QStringLiteral("item")));
    QCOMPARE(changed.count(), 1);
    // The name cell shows the role as well, so both cells are reported.
    QCOMPARE(changed.first().at(0).toModelIndex(), item->index());
    QCOMPARE(changed.first().at(1).toModelIndex(), item->valueIndex());

    QVERIFY(model.setData(item->valueIndex(), QVariant(), Qt::ToolTipRole));
    QVERIFY(!item->data(Qt::ToolTipRole).isValid());
    QCOMPARE(changed.count(), 2);
    QVERIFY(model.setData(item->valueIndex(), QVariant(), Qt::ToolTipRole));
    QCOMPARE(changed.count(), 2);
    QVERIFY(log.isEmpty());
}

void tst_PropertyItemModel::flagsAndBuddy()
{
    PropertyItemModel model;
    const Items items = grow(&model, {"top", "top/first", "top/item"});
    const auto tester = watch(&model);
    PropertyItem *item = items.value("item");

    const Qt::ItemFlags defaults = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    QCOMPARE(model.flags(item->index()), defaults & ~Qt::ItemIsEditable);
    QCOMPARE(model.flags(item->valueIndex()), defaults);
    item->setEditable(false);
    QCOMPARE(model.flags(item->valueIndex()), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setFlags(Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
    QCOMPARE(model.flags(item->index()), Qt::ItemIsUserCheckable);

    QCOMPARE(model.buddy(item->index()), item->valueIndex());
    QCOMPARE(model.buddy(item->valueIndex()), item->valueIndex());
    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    QVERIFY(!model.buddy(QModelIndex()).isValid());
}

void tst_PropertyItemModel::index_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("parentColumn"); // -1: top level
    QTest::addColumn<bool>("valid");
    QTest::newRow("top level") << 1 << 1 << -1 << true;
    QTest::newRow("child of name cell") << 0 << 1 << 0 << true;
    QTest::newRow("child of value cell") << 0 << 0 << 1 << false;
    QTest::newRow("negative row") << -1 << 0 << -1 << false;
    QTest::newRow("row at count") << 2 << 0 << -1 << false;
    QTest::newRow("negative column") << 0 << -1 << -1 << false;
    QTest::newRow("third column") << 0 << 2 << -1 << false;
}

void tst_PropertyItemModel::index()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, parentColumn);
    QFETCH(bool, valid);

    PropertyItemModel model;
    grow(&model, {"top", "top/child", "other"});
    const auto tester = watch(&model);

    const QModelIndex parent = parentColumn < 0 ? QModelIndex() : model.index(0, parentColumn);
    QCOMPARE(model.rowCount(parent), parentColumn == 1 ? 0 : (parentColumn == 0 ? 1 : 2));
    const QModelIndex index = model.index(row, column, parent);
    QCOMPARE(index.isValid(), valid);
    if (valid)
        QCOMPARE(model.parent(index), parent);
}

void tst_PropertyItemModel::revertResetsInRowOrder()
{
    PropertyItemModel model;
    QStringList log;
    const Items items = grow(&model, standardTree, &log);
    const auto tester = watch(&model);
    const QStringList names {"a", "a1", "a1x", "a2", "b", "b1"};
    for (const QString &name : names)
        QVERIFY(model.setData(items.value(name)->valueIndex(), -1));
    log.clear();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.revert();

    QCOMPARE(log,
             QStringList({"reset a", "reset a1", "reset a1x", "reset a2", "reset b", "reset b1"}));
    for (const QString &name : names)
        QCOMPARE(items.value(name)->value(), QVariant(name));
    QCOMPARE(changed.count(), 6);
}

void tst_PropertyItemModel::deletingModelDeletesEveryItem()
{
    int deaths = 0;
    auto *model = new PropertyItemModel;
    grow(model, standardTree, nullptr, &deaths);
    const auto tester = watch(model);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);

    delete model;
    QCOMPARE(deaths, standardTree.size());
    QCOMPARE(removed.count(), 0); // the children go with their parent, not one by one
}

void tst_PropertyItemModel::deletingAttachedItem_data()
{
    QTest::addColumn<QString>("victim");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("deaths");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("leaf") << "a1x"
                          << "a1" << 0 << 1 << QStringList {};
    QTest::newRow("middle item with subtree") << "a1"
                                              << "a" << 0 << 2 << QStringList {"a2"};
    QTest::newRow("last child") << "a2"
                                << "a" << 1 << 1 << QStringList {"a1"};
    QTest::newRow("top-level item with subtree") << "a"
                                                 << "root" << 0 << 4 << QStringList {"b"};
}

void tst_PropertyItemModel::deletingAttachedItem()
{
    QFETCH(QString, victim);
    QFETCH(QString, parentName);
    QFETCH(int, row);
    QFETCH(int, deaths);
    QFETCH(QStringList, remaining);

    int died = 0;
    PropertyItemModel model;
    const Items items = grow(&model, standardTree, nullptr, &died);
    const auto tester = watch(&model);
    // A view that has painted the tree and paints it again after the deletion.
    QTreeView view;
    view.setModel(&model);
    view.expandAll();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPersistentModelIndex persistent = items.value(victim)->valueIndex();
    QStringList log;
    recordRowSignals(&model, QStringLiteral("m"), &log);

    delete items.value(victim);

    QCOMPARE(died, deaths);
    QCOMPARE(log,
             QStringList({QStringLiteral("m aboutToRemove %1 %2-%2").arg(parentName).arg(row),
                          QStringLiteral("m removed %1 %2-%2").arg(parentName).arg(row)}));
    PropertyItem *parent = items.value(parentName);
    QCOMPARE(childNames(parent), remaining);
    QCOMPARE(model.rowCount(parent->index()), remaining.size());
    QVERIFY(!persistent.isValid());
    view.expandAll();
    QVERIFY(!view.grab().isNull());
}

void tst_PropertyItemModel::editInTreeView_data()
{
    QTest::addColumn<int>("column");
    QTest::newRow("value cell") << 1;
    QTest::newRow("name cell edits its buddy") << 0;
}

void tst_PropertyItemModel::editInTreeView()
{
    QFETCH(int, column);

    PropertyItemModel model;
    const Items items = grow(
        &model, {"analyser", "analyser/PT", "analyser/PT/reagent", "analyser/PT/unit", "printer"});
    const auto tester = watch(&model);
    PropertyItem *leaf = items.value("unit");

    QTreeView view;
    view.setModel(&model);
    view.expandAll();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.visualRect(leaf->index()).isValid());

    view.edit(model.index(1, column, items.value("PT")->index()));
    // The editor opens on the value cell whichever cell was asked for.
    auto *editor = qobject_cast<QLineEdit *>(view.indexWidget(leaf->valueIndex()));
    QVERIFY(editor);
    QVERIFY(!view.indexWidget(leaf->index()));
    QCOMPARE(editor->text(), QStringLiteral("unit"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("percent"));
    QTest::keyClick(editor, Qt::Key_Return);

    // The delegate commits from the event loop.
    QTRY_COMPARE(leaf->value(), QVariant(QStringLiteral("percent")));
    QCOMPARE(leaf->name(), QStringLiteral("unit"));
    QCOMPARE(model.data(leaf->valueIndex()), QVariant(QStringLiteral("percent")));
}

using ItemChange = std::function<void(PropertyItem *)>;
Q_DECLARE_METATYPE(ItemChange)

void tst_PropertyItemModel::attributeChangesNotify_data()
{
    QTest::addColumn<ItemChange>("change");
    QTest::addColumn<int>("firstColumn"); // -1: no signal

    QTest::newRow("rename") << ItemChange([](PropertyItem *i) { i->setName("renamed"); }) << 0;
    QTest::newRow("same name") << ItemChange([](PropertyItem *i) { i->setName("item"); }) << -1;
    QTest::newRow("read-only") << ItemChange([](PropertyItem *i) { i->setEditable(false); }) << 1;
    QTest::newRow("disabled") << ItemChange([](PropertyItem *i) {
        i->setFlags(Qt::ItemIsEditable);
    }) << 0;
}

void tst_PropertyItemModel::attributeChangesNotify()
{
    QFETCH(ItemChange, change);
    QFETCH(int, firstColumn);
    PropertyItemModel model;
    PropertyItem *item = grow(&model, {"top", "top/item"}).value("item");
    const auto tester = watch(&model);
    QSignalSpy spy(&model, &QAbstractItemModel::dataChanged);

    change(item);
    if (firstColumn < 0) {
        QCOMPARE(spy.count(), 0);
        return;
    }
    QCOMPARE(spy.count(), 1);
    const QModelIndex expectedFirst = firstColumn == 0 ? item->index() : item->valueIndex();
    QCOMPARE(spy.at(0).at(0).toModelIndex(), expectedFirst);
    // The value cell is reported only when its flags changed.
    const bool valueCell = spy.at(0).at(1).toModelIndex() == item->valueIndex();
    QCOMPARE(valueCell, QTest::currentDataTag() != QByteArray("rename"));
}

namespace {

std::unique_ptr<QSortFilterProxyModel> evenDigitFilter(PropertyItemModel *model)
{
    auto proxy = std::make_unique<QSortFilterProxyModel>();
    proxy->setRecursiveFilteringEnabled(true);
    proxy->setFilterRegularExpression(QStringLiteral("[02468]"));
    proxy->setSourceModel(model);
    return proxy;
}

// Whether the recursive filter must show \a item: its name or a descendant's matches.
bool shown(const PropertyItem *item)
{
    static const QRegularExpression pattern(QStringLiteral("[02468]"));
    if (pattern.match(item->name()).hasMatch())
        return true;
    const QList<PropertyItem *> children = item->children();
    return std::any_of(children.begin(), children.end(), shown);
}

// Compares the model and the proxy under \a parent with the item tree itself.
void compareTree(const PropertyItemModel &model, const QSortFilterProxyModel &proxy,
                 const PropertyItem *parent)
{
    const QModelIndex sourceParent = model.nameIndexFromItem(parent);
    const QModelIndex proxyParent = proxy.mapFromSource(sourceParent);
    const QList<PropertyItem *> children = parent->children();
    QCOMPARE(model.rowCount(sourceParent), children.size());
    int visible = 0;
    for (int row = 0; row < children.size(); ++row) {
        const QModelIndex index = model.index(row, 0, sourceParent);
        QCOMPARE(index.data().toString(), children.at(row)->name());
        QCOMPARE(proxy.mapFromSource(index).isValid(), shown(children.at(row)));
        visible += shown(children.at(row)) ? 1 : 0;
        compareTree(model, proxy, children.at(row));
        if (QTest::currentTestFailed())
            return;
    }
    if (parent == model.rootItem() || shown(parent))
        QCOMPARE(proxy.rowCount(proxyParent), visible);
}

} // namespace

void tst_PropertyItemModel::renameKeepsRecursiveFilterSound()
{
    PropertyItemModel model;
    const auto proxy = evenDigitFilter(&model);
    const auto modelTester = watch(&model);
    const auto proxyTester = watch(proxy.get());
    auto *a = new PropertyItem("n0", 0);
    auto *b = new PropertyItem("n0", 0);
    auto *c = new PropertyItem("n3", 0);
    auto *d = new PropertyItem("n2", 0);
    std::unique_ptr<PropertyItem> keepC(c), keepD(d);

    model.append(a);
    a->append(b);
    d->append(b);
    a->setName("r5");
    a->append(keepD.release());
    a->insert(1, keepC.release());
    model.rootItem()->insert(0, b);
    b->append(d);
    compareTree(model, *proxy, model.rootItem());
}

void tst_PropertyItemModel::randomOperationsUnderRecursiveFilter()
{
    PropertyItemModel model;
    const auto proxy = evenDigitFilter(&model);
    const auto modelTester = watch(&model);
    const auto proxyTester = watch(proxy.get());

    const quint32 seed = 17;
    QRandomGenerator random(seed);
    QList<PropertyItem *> items {model.rootItem()}; // attached or not, all alive
    const auto pick = [&] { return items.at(random.bounded(items.size())); };
    const auto name = [&] { return QStringLiteral("n%1").arg(random.bounded(10)); };

    for (int step = 0; step < 3000; ++step) {
        PropertyItem *item = pick();
        PropertyItem *other = pick();
        const bool isRoot = item == model.rootItem();
        switch (random.bounded(7)) {
        case 0:
            items << new PropertyItem(name(), step);
            break;
        case 1: // refused when other is item or one of its ancestors, as a child of itself
            if (!isRoot && other != item) {
                bool cycle = false;
                for (PropertyItem *p = other; p; p = p->parent())
                    cycle |= p == item;
                if (!cycle)
                    other->insert(random.bounded(other->children().size() + 1), item);
            }
            break;
        case 2:
            if (item->parent())
                item->parent()->remove(item);
            break;
        case 3:
        case 4:
            if (!isRoot)
                item->setName(name());
            break;
        case 5:
            if (!isRoot)
                item->setEditable(random.bounded(2));
            break;
        case 6: // deleting takes the descendants along
            if (!isRoot && item->parent() != nullptr && random.bounded(4) == 0) {
                items.erase(std::remove_if(items.begin(), items.end(),
                                           [item](const PropertyItem *i) {
                                               for (; i; i = i->parent())
                                                   if (i == item)
                                                       return true;
                                               return false;
                                           }),
                            items.end());
                delete item;
            }
            break;
        }
        compareTree(model, *proxy, model.rootItem());
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("seed %1, step %2").arg(seed).arg(step)));
    }
    // Detached trees; their children go with them.
    const QList<PropertyItem *> all = items;
    items.clear();
    for (PropertyItem *item : all) {
        if (!item->parent() && item != model.rootItem())
            items << item;
    }
    qDeleteAll(items);
}

QTEST_MAIN(tst_PropertyItemModel)
#include "tst_propertyitemmodel.moc"
