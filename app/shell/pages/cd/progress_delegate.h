#pragma once

// Draws a progress bar in a cell whose model gives a progress of 0..100 under `role`, and the
// usual cell otherwise.

#include <QStyledItemDelegate>

namespace quil::shell {

class ProgressDelegate final : public QStyledItemDelegate {
public:
    ProgressDelegate(int role, QObject* parent) : QStyledItemDelegate(parent), role_(role) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    int role_;
};

}  // namespace quil::shell
