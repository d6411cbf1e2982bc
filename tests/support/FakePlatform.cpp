#include "FakePlatform.h"

namespace fake {

namespace {

class Reader final : public platform::SettingsReader {
public:
    explicit Reader(Key key) : key_(std::move(key)) {}
    std::optional<std::int32_t> readInteger(const QString &name) override
    {
        const QVariant v = key_.value(name);
        if (v.typeId() != QMetaType::Int)
            return std::nullopt;
        return v.toInt();
    }
    std::optional<QString> readString(const QString &name) override
    {
        const QVariant v = key_.value(name);
        if (!v.isValid())
            return std::nullopt;
        return v.toString();
    }

private:
    Key key_;
};

class Writer final : public platform::SettingsWriter {
public:
    Writer(Settings &store, QString program) : store_(store), program_(std::move(program)) {}
    void writeInteger(const QString &name, std::int32_t value) override
    {
        pending_.insert(name, value);
        order_ << name;
    }
    void writeString(const QString &name, const QString &value) override
    {
        pending_.insert(name, value);
        order_ << name;
    }
    bool commit() override
    {
        Key &key = store_.keys[program_];
        for (auto it = pending_.cbegin(); it != pending_.cend(); ++it)
            key.insert(it.key(), it.value());
        store_.writeOrder = order_;
        return true;
    }

private:
    Settings &store_;
    QString program_;
    Key pending_;
    QStringList order_;
};

} // namespace

std::unique_ptr<platform::SettingsReader> Settings::openForRead(const QString &program)
{
    if (!keys.contains(program))
        return nullptr;
    return std::make_unique<Reader>(keys.value(program));
}

std::unique_ptr<platform::SettingsWriter> Settings::openForWrite(const QString &program)
{
    if (!writable)
        return nullptr;
    return std::make_unique<Writer>(*this, program);
}

int Dialogs::messageBox(QWidget *, const QString &text, const QString &caption, platform::MessageButtons buttons,
                        platform::MessageIcon icon)
{
    messages.append({text, caption, buttons, icon});
    if (answers.empty())
        return buttons == platform::MessageButtons::YesNo ? platform::MbYes : platform::MbOk;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

bool Dialogs::openFile(QWidget *, platform::FileDialogRequest &request)
{
    fileRequests.append(request);
    if (fileAnswers.empty())
        return false;
    auto answer = std::move(fileAnswers.front());
    fileAnswers.pop_front();
    return answer(request);
}

bool Dialogs::saveFile(QWidget *parent, platform::FileDialogRequest &request)
{
    return openFile(parent, request);
}

int Dialogs::execModal(QDialog *dialog)
{
    modals.append(dialog);
    if (modalAnswers.empty())
        return 0;
    auto answer = std::move(modalAnswers.front());
    modalAnswers.pop_front();
    return answer(dialog);
}

} // namespace fake
