// The standard horizontal slider on the skin's dark grey (66, 71, 74) instead of
// the window colour. Range, page step and position are the owner's to set.
//
// End of tracking: besides QSlider's own signals, endTrack(position) is emitted
// once a user interaction is over and the position is final:
//  - on release of the left mouse button that was pressed on the slider (after a
//    drag of the handle or a click on the groove);
//  - on release of a navigation key (arrows, Page Up/Down, Home, End) that moved
//    or may have moved the slider;
//  - after each mouse-wheel step.
// Positions set by the owner (setValue) do not emit it.
#pragma once

#include <QColor>
#include <QImage>
#include <QSlider>

class QStyle;

class CRudSliderCtrl : public QSlider {
    Q_OBJECT
public:
    static constexpr QColor kBackground{66, 71, 74};

    explicit CRudSliderCtrl(QWidget* parent = nullptr);
    ~CRudSliderCtrl() override = default;

signals:
    void endTrack(int position);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    bool m_bTracking = false;  // a left press on this slider is in progress

    // What the last drawing was made of.
    struct PaintKey {
        QSize size;
        qreal dpr = 0;
        int state = 0, activeSubControls = 0, minimum = 0, maximum = 0, position = 0;
        bool focus = false;
        qint64 palette = 0;
        const QStyle* style = nullptr;
        bool operator==(const PaintKey&) const = default;
    };
    QImage m_painted;
    PaintKey m_paintedKey;
};
