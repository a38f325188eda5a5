#pragma once

#include <QLayout>
#include <QRect>
#include <QVector>

namespace ostrel {

// Places each widget at its laid-out rectangle and keeps the distance to the edges it is
// anchored to when the area changes size: anchored left and right, a widget grows with
// the width; anchored right only, it moves with the right edge; likewise for top and bottom.
class AnchorLayout : public QLayout {
public:
    enum Edge { Left = 1, Top = 2, Right = 4, Bottom = 8 };

    // `designSize` is the area the rectangles were laid out in; `minimumSize` the smallest
    // area the layout allows.
    AnchorLayout(QSize designSize, QSize minimumSize, QWidget* parent = nullptr);
    ~AnchorLayout() override;

    void addAnchored(QWidget* widget, const QRect& designRect, int edges);

    // QLayout
    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return static_cast<int>(m_entries.size()); }
    QSize sizeHint() const override { return m_designSize; }
    QSize minimumSize() const override { return m_minimumSize; }
    void setGeometry(const QRect& rect) override;

    // The rectangle a widget laid out at `designRect` takes in an area of `size`.
    static QRect anchoredRect(const QRect& designRect, int edges, QSize designSize, QSize size);

private:
    struct Entry {
        QLayoutItem* item;
        QRect designRect;
        int edges;
    };
    QSize m_designSize;
    QSize m_minimumSize;
    QVector<Entry> m_entries;
};

} // namespace ostrel
