#include "clickablelabel.h"

#include <QMouseEvent>

ClickableLabel::ClickableLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    setText(text);
}

void ClickableLabel::mousePressEvent(QMouseEvent* event)
{
    // The press is consumed here, not passed on to the label.
    event->accept();
    emit clicked();
}
