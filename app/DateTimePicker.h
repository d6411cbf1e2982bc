#pragma once
// The event date field: a date in the long date format with a check box that says whether the
// date is recorded.

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QWidget>

class TDateTimePicker : public QWidget {
    Q_OBJECT
public:
    explicit TDateTimePicker(QWidget *parent = nullptr);

    QDate Date() const { return edit->date(); }
    void setDate(const QDate &date) { edit->setDate(date); }
    bool Checked() const { return check->isChecked(); }
    void setChecked(bool checked) { check->setChecked(checked); }

    QCheckBox *check;
    QDateEdit *edit;

signals:
    // The date or the check box changed.
    void changed();

protected:
    void resizeEvent(QResizeEvent *event) override;
};
