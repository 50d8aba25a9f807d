#pragma once

#include <QWidget>

class QPaintEvent;
class QMouseEvent;
class QContextMenuEvent;
class QCloseEvent;
class QEnterEvent;

namespace afx {

class DialogWidget : public QWidget {
public:
    explicit DialogWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
};

class StaticWidget : public QWidget {
public:
    explicit StaticWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    bool m_pressed = false;
};

class GroupBoxWidget : public QWidget {
public:
    explicit GroupBoxWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace afx
