// Settings page of the site inspector: every row of table profile as a tree, edited in place.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SETTINGSPAGE_H
#define SETTINGSPAGE_H

#include <QWidget>

class Profile;
class PropertyItemModel;
class QLineEdit;
class QSortFilterProxyModel;
class QTreeView;

/*!
    \brief The settings of a store as a tree grouped by the slash-separated parts of their keys;
    an edited value is written back through the store.
*/
class SettingsPage : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsPage(QWidget *parent = nullptr);

    /*! \brief Shows the settings of \a store, which must outlive the page or the next call. */
    void setStore(Profile *store);

    QTreeView *view() const { return m_view; }
    QLineEdit *filterEdit() const { return m_filter; }
    /*! \brief The index of the value cell of \a key in the view's model; invalid when the key
        is not shown. */
    QModelIndex valueIndex(const QString &key) const;

private:
    Profile *m_store = nullptr;
    PropertyItemModel *m_model;
    QSortFilterProxyModel *m_proxy;
    QTreeView *m_view;
    QLineEdit *m_filter;
};

#endif // SETTINGSPAGE_H
