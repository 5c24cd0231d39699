// Tests of the property tree and its item model.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "propertyitemmodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QRegularExpression>
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
    void valueOfAnotherTypeIsAChange();
    void otherRoles();
    void setDataRejected_data();
    void setDataRejected();
    void flagsAndBuddy();
    void index_data();
    void index();
    void revertResetsInRowOrder();
    void deletingModelDeletesEveryItem();
    void deletingAttachedItem_data();
    void deletingAttachedItem();
    void editInTreeView_data();
    void editInTreeView();
};

void tst_PropertyItemModel::freshModel()
{
    PropertyItemModel model;
    const auto tester = watch(&model);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("名称"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("值"));
    QVERIFY(!model.rootItem()->index().isValid());
    QCOMPARE(model.rootItem()->model(), &model);
    QVERIFY(!model.rootItem()->parent());
}

// Tree used by the insertion tests: root -> a(a1, a2), b.
void tst_PropertyItemModel::insertRows_data()
{
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<int>("pos"); // -1: append
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("row");

    const QString n = QStringLiteral("n");
    QTest::newRow("append top-level") << QString() << -1 << QStringList {"a", "b", n} << 2;
    QTest::newRow("append to item") << "a" << -1 << QStringList {"a1", "a2", n} << 2;
    QTest::newRow("append to leaf") << "a2" << -1 << QStringList {n} << 0;
    QTest::newRow("insert at 0") << "a" << 0 << QStringList {n, "a1", "a2"} << 0;
    QTest::newRow("insert in the middle") << "a" << 1 << QStringList {"a1", n, "a2"} << 1;
    QTest::newRow("insert at count") << "a" << 2 << QStringList {"a1", "a2", n} << 2;
    QTest::newRow("insert negative") << "a" << -5 << QStringList {n, "a1", "a2"} << 0;
    QTest::newRow("insert beyond count") << "a" << 7 << QStringList {"a1", "a2", n} << 2;
    QTest::newRow("insert top-level negative")
        << QString() << -1000 << QStringList {n, "a", "b"} << 0;
}

void tst_PropertyItemModel::insertRows()
{
    QFETCH(QString, parentName);
    QFETCH(int, pos);
    QFETCH(QStringList, expected);
    QFETCH(int, row);

    PropertyItemModel model;
    auto *a = new PropertyItem(QStringLiteral("a"), 1);
    auto *a1 = new PropertyItem(QStringLiteral("a1"), 11);
    auto *a2 = new PropertyItem(QStringLiteral("a2"), 12);
    a->append(a1);
    a->append(a2);
    model.append(a);
    model.append(new PropertyItem(QStringLiteral("b"), 2));
    QCOMPARE(a2->model(), &model);
    const auto tester = watch(&model);

    PropertyItem *parent = parentName.isEmpty() ? model.rootItem() : (parentName == "a" ? a : a2);
    QSignalSpy aboutToInsert(&model, &QAbstractItemModel::rowsAboutToBeInserted);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

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
        const QList<QVariant> args = spy->first();
        QCOMPARE(args.at(0).toModelIndex(), parent->index());
        QCOMPARE(args.at(1).toInt(), row);
        QCOMPARE(args.at(2).toInt(), row);
    }

    const QModelIndex name = model.index(row, 0, parent->index());
    QCOMPARE(name, item->index());
    QCOMPARE(model.itemFromIndex(name), item);
    QCOMPARE(model.data(name, Qt::DisplayRole).toString(), QStringLiteral("n"));
    QCOMPARE(model.data(name, Qt::EditRole).toString(), QStringLiteral("n"));
    QCOMPARE(model.data(item->valueIndex(), Qt::DisplayRole).toString(), QStringLiteral("value"));
    QCOMPARE(model.data(item->valueIndex(), Qt::EditRole).toString(), QStringLiteral("value"));
}

void tst_PropertyItemModel::removeRow()
{
    PropertyItemModel model;
    auto *a = new PropertyItem(QStringLiteral("a"), 1);
    auto *b = new PropertyItem(QStringLiteral("b"), 2);
    std::unique_ptr<PropertyItem> a1(new PropertyItem(QStringLiteral("a1"), 11));
    auto *a1x = new PropertyItem(QStringLiteral("a1x"), 111);
    a1->append(a1x);
    a->append(new PropertyItem(QStringLiteral("a0"), 10));
    a->append(a1.get());
    model.append(a);
    model.append(b);
    const auto tester = watch(&model);
    QStringList log;
    recordRowSignals(&model, QStringLiteral("m"), &log);

    a->remove(b); // not a child of a
    QVERIFY(log.isEmpty());
    QCOMPARE(b->parent(), model.rootItem());

    a->remove(a1.get());
    QCOMPARE(log, QStringList({"m aboutToRemove a 1-1", "m removed a 1-1"}));
    QCOMPARE(childNames(a), QStringList {"a0"});
    QVERIFY(!a1->parent());
    QVERIFY(!a1->model());
    QVERIFY(!a1x->model());
    QCOMPARE(a1x->parent(), a1.get());
    QVERIFY(!a1->index().isValid());
    QVERIFY(!model.nameIndexFromItem(a1.get()).isValid());
}

// Moves a1 (with child a1x) out of m1: root -> a(a1(a1x), a2), b(b1); m2: root -> c(c1).
void tst_PropertyItemModel::reparent_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("pos"); // -1: append
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("modelName");
    QTest::addColumn<QStringList>("signalLog");

    const QString removal1 = QStringLiteral("m1 aboutToRemove a 0-0");
    const QString removal2 = QStringLiteral("m1 removed a 0-0");
    QTest::newRow("other parent, same model")
        << "b" << -1 << QStringList {"b1", "a1"} << "m1"
        << QStringList {removal1, removal2, "m1 aboutToInsert b 1-1", "m1 inserted b 1-1"};
    QTest::newRow("same parent, to the end")
        << "a" << -1 << QStringList {"a2", "a1"} << "m1"
        << QStringList {removal1, removal2, "m1 aboutToInsert a 1-1", "m1 inserted a 1-1"};
    QTest::newRow("same parent, insert at 0")
        << "a" << 0 << QStringList {"a1", "a2"} << "m1"
        << QStringList {removal1, removal2, "m1 aboutToInsert a 0-0", "m1 inserted a 0-0"};
    QTest::newRow("item of another model")
        << "c" << 0 << QStringList {"a1", "c1"} << "m2"
        << QStringList {removal1, removal2, "m2 aboutToInsert c 0-0", "m2 inserted c 0-0"};
    QTest::newRow("top level of another model")
        << "root2" << -1 << QStringList {"c", "a1"} << "m2"
        << QStringList {removal1, removal2, "m2 aboutToInsert root 1-1", "m2 inserted root 1-1"};
    QTest::newRow("free item") << "free" << -1 << QStringList {"a1"} << QString()
                               << QStringList {removal1, removal2};
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
    auto *a = new PropertyItem(QStringLiteral("a"), 1);
    auto *a1 = new PropertyItem(QStringLiteral("a1"), 11);
    auto *a1x = new PropertyItem(QStringLiteral("a1x"), 111);
    auto *b = new PropertyItem(QStringLiteral("b"), 2);
    auto *c = new PropertyItem(QStringLiteral("c"), 3);
    PropertyItem freeItem(QStringLiteral("free"), 0);
    a1->append(a1x);
    a->append(a1);
    a->append(new PropertyItem(QStringLiteral("a2"), 12));
    b->append(new PropertyItem(QStringLiteral("b1"), 21));
    c->append(new PropertyItem(QStringLiteral("c1"), 31));
    m1.append(a);
    m1.append(b);
    m2.append(c);
    QCOMPARE(a1x->model(), &m1);
    const auto tester1 = watch(&m1);
    const auto tester2 = watch(&m2);
    QStringList log;
    recordRowSignals(&m1, QStringLiteral("m1"), &log);
    recordRowSignals(&m2, QStringLiteral("m2"), &log);

    const QMap<QString, PropertyItem *> targets {
        {"a", a}, {"b", b}, {"c", c}, {"root2", m2.rootItem()}, {"free", &freeItem}};
    PropertyItem *newParent = targets.value(target);
    if (pos == -1)
        newParent->append(a1);
    else
        newParent->insert(pos, a1);

    QCOMPARE(log, signalLog);
    QCOMPARE(childNames(newParent), expected);
    if (newParent != a)
        QCOMPARE(childNames(a), QStringList {"a2"});
    QCOMPARE(a1->parent(), newParent);
    PropertyItemModel *expectedModel
        = modelName.isEmpty() ? nullptr : (modelName == "m1" ? &m1 : &m2);
    QCOMPARE(a1->model(), expectedModel);
    QCOMPARE(a1x->model(), expectedModel);
    QCOMPARE(a1x->parent(), a1);
    if (expectedModel) {
        QCOMPARE(expectedModel->itemFromIndex(a1x->index()), a1x);
        QCOMPARE(expectedModel->parent(a1x->index()), a1->index());
        QCOMPARE(expectedModel->parent(a1->index()), newParent->index());
    }
    if (expectedModel != &m1)
        QVERIFY(!m1.nameIndexFromItem(a1).isValid());
}

void tst_PropertyItemModel::refusedChild_data()
{
    QTest::addColumn<QString>("childName");
    QTest::addColumn<QString>("parentName");
    QTest::newRow("null") << QString() << "a";
    QTest::newRow("itself") << "a"
                            << "a";
    QTest::newRow("own parent under the child") << "a"
                                                << "a1";
    QTest::newRow("grandparent under grandchild") << "a"
                                                  << "a1x";
    QTest::newRow("root of another model") << "root2"
                                           << "a1";
    QTest::newRow("root of the same model") << "root"
                                            << "a1x";
}

void tst_PropertyItemModel::refusedChild()
{
    QFETCH(QString, childName);
    QFETCH(QString, parentName);

    PropertyItemModel m1;
    PropertyItemModel m2;
    auto *a = new PropertyItem(QStringLiteral("a"), 1);
    auto *a1 = new PropertyItem(QStringLiteral("a1"), 11);
    auto *a1x = new PropertyItem(QStringLiteral("a1x"), 111);
    a1->append(a1x);
    a->append(a1);
    m1.append(a);
    m2.append(new PropertyItem(QStringLiteral("c"), 3));
    const auto tester1 = watch(&m1);
    const auto tester2 = watch(&m2);
    QStringList log;
    recordRowSignals(&m1, QStringLiteral("m1"), &log);
    recordRowSignals(&m2, QStringLiteral("m2"), &log);

    const QMap<QString, PropertyItem *> items {
        {"a", a}, {"a1", a1}, {"a1x", a1x}, {"root", m1.rootItem()}, {"root2", m2.rootItem()}};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^PropertyItem::insert")));
    items.value(parentName)->append(items.value(childName));

    QVERIFY(log.isEmpty());
    QCOMPARE(childNames(m1.rootItem()), QStringList {"a"});
    QCOMPARE(childNames(a), QStringList {"a1"});
    QCOMPARE(childNames(a1), QStringList {"a1x"});
    QCOMPARE(childNames(m2.rootItem()), QStringList {"c"});
    QCOMPARE(a->parent(), m1.rootItem());
    QVERIFY(!m2.rootItem()->parent());
}

void tst_PropertyItemModel::valueThroughModel()
{
    PropertyItemModel model;
    QStringList log;
    auto *top = new RecordingItem(QStringLiteral("top"), 0, &log);
    auto *mid = new RecordingItem(QStringLiteral("mid"), 0, &log);
    auto *leaf = new RecordingItem(QStringLiteral("leaf"), QStringLiteral("old"), &log);
    auto *sibling = new RecordingItem(QStringLiteral("sibling"), 0, &log);
    mid->append(leaf);
    top->append(mid);
    top->append(sibling);
    model.append(top);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const QModelIndex value = leaf->valueIndex();
    QCOMPARE(value, model.index(0, 1, mid->index()));
    QVERIFY(model.setData(value, QStringLiteral("new"), Qt::EditRole));
    QCOMPARE(leaf->value(), QVariant(QStringLiteral("new")));
    QCOMPARE(leaf->data(Qt::DisplayRole), QVariant(QStringLiteral("new")));
    QVERIFY(!leaf->data(Qt::EditRole).isValid());
    QCOMPARE(model.data(value, Qt::DisplayRole), QVariant(QStringLiteral("new")));
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
}

void tst_PropertyItemModel::valueOfAnotherTypeIsAChange()
{
    PropertyItemModel model;
    auto *item = new PropertyItem(QStringLiteral("count"), 1);
    model.append(item);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(model.setData(item->valueIndex(), QStringLiteral("1")));
    QCOMPARE(item->value().userType(), int(QMetaType::QString));
    QCOMPARE(changed.count(), 1);
}

void tst_PropertyItemModel::otherRoles()
{
    PropertyItemModel model;
    QStringList log;
    auto *top = new RecordingItem(QStringLiteral("top"), 0, &log);
    auto *item = new RecordingItem(QStringLiteral("item"), 5, &log);
    top->append(item);
    model.append(top);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(model.setData(item->valueIndex(), QStringLiteral("tip"), Qt::ToolTipRole));
    QCOMPARE(item->data(Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(model.data(item->index(), Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(model.data(item->valueIndex(), Qt::ToolTipRole), QVariant(QStringLiteral("tip")));
    QCOMPARE(item->value(), QVariant(5));
    QCOMPARE(changed.count(), 1);
    // The name cell shows the role as well, so both cells are reported.
    QCOMPARE(changed.first().at(0).toModelIndex(), item->index());
    QCOMPARE(changed.first().at(1).toModelIndex(), item->valueIndex());

    QVERIFY(model.setData(item->valueIndex(), QVariant(), Qt::ToolTipRole));
    QVERIFY(!item->data(Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(item->index(), Qt::ToolTipRole).isValid());
    QCOMPARE(changed.count(), 2);

    // Removing a role that is not there changes nothing.
    QVERIFY(model.setData(item->valueIndex(), QVariant(), Qt::ToolTipRole));
    QCOMPARE(changed.count(), 2);
    QVERIFY(log.isEmpty());
}

void tst_PropertyItemModel::setDataRejected_data()
{
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("column");
    QTest::newRow("name cell") << true << 0;
    QTest::newRow("invalid index") << false << 0;
}

void tst_PropertyItemModel::setDataRejected()
{
    QFETCH(bool, valid);
    QFETCH(int, column);

    PropertyItemModel model;
    auto *item = new PropertyItem(QStringLiteral("item"), 5);
    model.append(item);
    const auto tester = watch(&model);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    const QModelIndex index = valid ? model.index(0, column) : QModelIndex();
    QVERIFY(!model.setData(index, QStringLiteral("x"), Qt::EditRole));
    QCOMPARE(item->name(), QStringLiteral("item"));
    QCOMPARE(item->value(), QVariant(5));
    QVERIFY(!model.rootItem()->value().isValid());
    QCOMPARE(changed.count(), 0);
}

void tst_PropertyItemModel::flagsAndBuddy()
{
    PropertyItemModel model;
    auto *top = new PropertyItem(QStringLiteral("top"), 0);
    auto *item = new PropertyItem(QStringLiteral("item"), 5);
    top->append(new PropertyItem(QStringLiteral("first"), 1));
    top->append(item);
    model.append(top);
    const auto tester = watch(&model);

    const Qt::ItemFlags defaults = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    QCOMPARE(item->flags(), defaults);
    QVERIFY(item->isEditable());
    QCOMPARE(model.flags(item->index()), defaults & ~Qt::ItemIsEditable);
    QCOMPARE(model.flags(item->valueIndex()), defaults);

    item->setEditable(false);
    QVERIFY(!item->isEditable());
    QCOMPARE(model.flags(item->valueIndex()), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->changeFlags(Qt::ItemIsEditable | Qt::ItemIsUserCheckable, true);
    QCOMPARE(model.flags(item->index()),
             Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setFlags(Qt::ItemIsEditable);
    QCOMPARE(model.flags(item->index()), Qt::NoItemFlags);
    QCOMPARE(model.flags(item->valueIndex()), Qt::ItemIsEditable);

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
    auto *top = new PropertyItem(QStringLiteral("top"), 0);
    top->append(new PropertyItem(QStringLiteral("child"), 1));
    model.append(top);
    model.append(new PropertyItem(QStringLiteral("other"), 2));
    const auto tester = watch(&model);

    const QModelIndex parent = parentColumn < 0 ? QModelIndex() : model.index(0, parentColumn);
    QCOMPARE(model.rowCount(parent), parentColumn == 1 ? 0 : (parentColumn == 0 ? 1 : 2));
    const QModelIndex index = model.index(row, column, parent);
    QCOMPARE(index.isValid(), valid);
    QVERIFY(!model.hasChildren(top->valueIndex()));
    if (valid) {
        QCOMPARE(model.parent(index), parent.sibling(parent.row(), 0));
        QCOMPARE(index.column(), column);
    }
}

void tst_PropertyItemModel::revertResetsInRowOrder()
{
    PropertyItemModel model;
    QStringList log;
    auto *a = new RecordingItem(QStringLiteral("a"), 1, &log);
    auto *a1 = new RecordingItem(QStringLiteral("a1"), 11, &log);
    auto *a2 = new RecordingItem(QStringLiteral("a2"), 12, &log);
    auto *b = new RecordingItem(QStringLiteral("b"), 2, &log);
    a1->append(new RecordingItem(QStringLiteral("a1x"), 111, &log));
    a->append(a1);
    a->append(a2);
    model.append(a);
    model.append(b);
    const auto tester = watch(&model);
    for (PropertyItem *item : {static_cast<PropertyItem *>(a), static_cast<PropertyItem *>(a1),
                               static_cast<PropertyItem *>(a2), static_cast<PropertyItem *>(b)})
        QVERIFY(model.setData(item->valueIndex(), -1));
    log.clear();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    model.revert();

    QCOMPARE(log, QStringList({"reset a", "reset a1", "reset a1x", "reset a2", "reset b"}));
    QCOMPARE(a->value(), QVariant(1));
    QCOMPARE(a1->value(), QVariant(11));
    QCOMPARE(a2->value(), QVariant(12));
    QCOMPARE(b->value(), QVariant(2));
    QCOMPARE(changed.count(), 5);
}

void tst_PropertyItemModel::deletingModelDeletesEveryItem()
{
    int deaths = 0;
    auto *model = new PropertyItemModel;
    const auto tester = watch(model);
    auto *a = new RecordingItem(QStringLiteral("a"), 1, nullptr, &deaths);
    auto *a1 = new RecordingItem(QStringLiteral("a1"), 11, nullptr, &deaths);
    a1->append(new RecordingItem(QStringLiteral("a1x"), 111, nullptr, &deaths));
    a->append(a1);
    a->append(new RecordingItem(QStringLiteral("a2"), 12, nullptr, &deaths));
    model->append(a);
    model->append(new RecordingItem(QStringLiteral("b"), 2, nullptr, &deaths));
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);

    delete model;
    QCOMPARE(deaths, 5);
    QCOMPARE(removed.count(), 0);
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
    QMap<QString, PropertyItem *> items {{"root", model.rootItem()}};
    const auto make = [&](const QString &name, const QString &parent) {
        auto *item = new RecordingItem(name, name.size(), nullptr, &died);
        items.insert(name, item);
        items.value(parent)->append(item);
    };
    make(QStringLiteral("a"), QStringLiteral("root"));
    make(QStringLiteral("a1"), QStringLiteral("a"));
    make(QStringLiteral("a1x"), QStringLiteral("a1"));
    make(QStringLiteral("a2"), QStringLiteral("a"));
    make(QStringLiteral("b"), QStringLiteral("root"));
    const auto tester = watch(&model);

    // A view that has painted the tree and will paint it again after the deletion.
    QTreeView view;
    view.setModel(&model);
    view.expandAll();
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QPersistentModelIndex persistent = items.value(victim)->valueIndex();
    QVERIFY(persistent.isValid());
    QStringList log;
    recordRowSignals(&model, QStringLiteral("m"), &log);
    PropertyItem *parent = items.value(parentName);

    delete items.value(victim);

    QCOMPARE(died, deaths);
    const QString signalParent = parentName;
    QCOMPARE(log,
             QStringList({QStringLiteral("m aboutToRemove %1 %2-%2").arg(signalParent).arg(row),
                          QStringLiteral("m removed %1 %2-%2").arg(signalParent).arg(row)}));
    QCOMPARE(childNames(parent), remaining);
    QCOMPARE(model.rowCount(parent->index()), remaining.size());
    QVERIFY(!persistent.isValid());
    QVERIFY(!view.grab().isNull());
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
    auto *top = new PropertyItem(QStringLiteral("analyser"), QString());
    auto *mid = new PropertyItem(QStringLiteral("PT"), QString());
    auto *leaf = new PropertyItem(QStringLiteral("unit"), QStringLiteral("s"));
    mid->append(new PropertyItem(QStringLiteral("reagent"), QStringLiteral("R1")));
    mid->append(leaf);
    top->append(mid);
    model.append(top);
    model.append(new PropertyItem(QStringLiteral("printer"), QStringLiteral("none")));
    const auto tester = watch(&model);

    QTreeView view;
    view.setModel(&model);
    view.expandAll();
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.isExpanded(mid->index()));
    QVERIFY(view.visualRect(leaf->index()).isValid());

    const QModelIndex target = model.index(1, column, mid->index());
    view.edit(target);
    // The editor opens on the value cell whichever cell was asked for.
    auto *editor = qobject_cast<QLineEdit *>(view.indexWidget(leaf->valueIndex()));
    QVERIFY(editor);
    QVERIFY(!view.indexWidget(leaf->index()));
    QCOMPARE(editor->text(), QStringLiteral("s"));
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("percent"));
    QTest::keyClick(editor, Qt::Key_Return);

    // The delegate commits from the event loop.
    QTRY_COMPARE(leaf->value(), QVariant(QStringLiteral("percent")));
    QCOMPARE(leaf->name(), QStringLiteral("unit"));
    QCOMPARE(model.data(leaf->valueIndex()), QVariant(QStringLiteral("percent")));
}

QTEST_MAIN(tst_PropertyItemModel)
#include "tst_propertyitemmodel.moc"
