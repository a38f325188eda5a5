#include "main/AnchorLayout.h"

#include <QWidget>
#include <algorithm>

namespace ostrel {

AnchorLayout::AnchorLayout(QSize designSize, QSize minimumSize, QWidget* parent)
    : QLayout(parent), m_designSize(designSize), m_minimumSize(minimumSize) {
    setContentsMargins(0, 0, 0, 0);
    setSizeConstraint(QLayout::SetDefaultConstraint);
}

AnchorLayout::~AnchorLayout() {
    for (const Entry& entry : m_entries)
        delete entry.item;
}

void AnchorLayout::addAnchored(QWidget* widget, const QRect& designRect, int edges) {
    addChildWidget(widget);
    m_entries.push_back({new QWidgetItem(widget), designRect, edges});
    widget->setGeometry(designRect);
    invalidate();
}

void AnchorLayout::addItem(QLayoutItem* item) {
    // Items added the generic way stay where they are, anchored left and top.
    m_entries.push_back({item, item->geometry(), Left | Top});
}

QLayoutItem* AnchorLayout::itemAt(int index) const {
    return index >= 0 && index < m_entries.size() ? m_entries[index].item : nullptr;
}

QLayoutItem* AnchorLayout::takeAt(int index) {
    if (index < 0 || index >= m_entries.size())
        return nullptr;
    QLayoutItem* item = m_entries[index].item;
    m_entries.remove(index);
    return item;
}

QRect AnchorLayout::anchoredRect(const QRect& designRect, int edges, QSize designSize, QSize size) {
    const int dx = size.width() - designSize.width();
    const int dy = size.height() - designSize.height();
    int x = designRect.x();
    int width = designRect.width();
    if ((edges & Left) && (edges & Right))
        width += dx;
    else if (edges & Right)
        x += dx;
    int y = designRect.y();
    int height = designRect.height();
    if ((edges & Top) && (edges & Bottom))
        height += dy;
    else if (edges & Bottom)
        y += dy;
    return QRect(x, y, std::max(0, width), std::max(0, height));
}

void AnchorLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    for (const Entry& entry : m_entries) {
        const QRect placed = anchoredRect(entry.designRect, entry.edges, m_designSize, rect.size());
        // Placed directly: the laid-out sizes win over the widgets' own size hints.
        if (QWidget* widget = entry.item->widget())
            widget->setGeometry(placed.translated(rect.topLeft()));
        else
            entry.item->setGeometry(placed.translated(rect.topLeft()));
    }
}

} // namespace ostrel
