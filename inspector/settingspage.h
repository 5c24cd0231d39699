// Settings page of the site inspector: every row of table profile as a tree, edited in place.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SETTINGSPAGE_H
#define SETTINGSPAGE_H

#include <QWidget>

class Profile;
class PropertyItemModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTreeView;

/*!
    \brief The settings of a store as a tree grouped by the slash-separated parts of their keys.
    Read-only until Edit is switched on; an edited value is then written back through the store.
    Edit is refused while another program holds profile.db (the analyser running, say).
*/
class SettingsPage : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsPage(QWidget *parent = nullptr);

    /*! \brief Shows the settings of \a store, which must outlive the page or the next call. */
    void setStore(Profile *store);

    /*! \brief Switches editing on or off; false when it was asked for and refused, with the
        reason shown above the tree. */
    bool setEditing(bool on);
    bool isEditing() const;

    QTreeView *view() const { return m_view; }
    QLineEdit *filterEdit() const { return m_filter; }
    /*! \brief The index of the value cell of \a key in the view's model; invalid when the key
        is not shown. */
    QModelIndex valueIndex(const QString &key) const;

signals:
    /*! \brief Editing was switched on or off; the owner of the store opens it for writing
        (and back) and hands it over with setStore(). */
    void editingChanged(bool editing);

private:
    Profile *m_store = nullptr;
    PropertyItemModel *m_model;
    QSortFilterProxyModel *m_proxy;
    QTreeView *m_view;
    QLineEdit *m_filter;
    QCheckBox *m_edit;
    QLabel *m_notice;
    bool m_editing = false;
};

#endif // SETTINGSPAGE_H
