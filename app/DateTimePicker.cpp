#include "DateTimePicker.h"

#include <QLocale>

TDateTimePicker::TDateTimePicker(QWidget *parent)
    : QWidget(parent), check(new QCheckBox(this)), edit(new QDateEdit(this))
{
    check->setObjectName(QStringLiteral("check"));
    edit->setObjectName(QStringLiteral("edit"));
    check->setChecked(true);
    check->setFocusPolicy(Qt::StrongFocus);
    edit->setDisplayFormat(QLocale().dateFormat(QLocale::LongFormat));
    edit->setCalendarPopup(true);
    edit->setFrame(false);
    setAutoFillBackground(true);
    connect(check, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    connect(check, &QCheckBox::toggled, this, &TDateTimePicker::changed);
    connect(edit, &QDateEdit::dateChanged, this, &TDateTimePicker::changed);
}

void TDateTimePicker::resizeEvent(QResizeEvent *)
{
    const int box = 20;
    check->setGeometry(4, (height() - box) / 2, box, box);
    edit->setGeometry(box + 6, 0, width() - box - 6, height());
}
