#pragma once

#include <QItemDelegate>

// Row delegate of the main window's combo boxes: every pop-up row is 20 px
// high whatever the font, so the short lists keep a compact, even pitch.
class ComboBoxDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    static constexpr int RowHeight = 20;

    explicit ComboBoxDelegate(QObject *parent);
    ~ComboBoxDelegate() override;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
