#pragma once
// The length limit of an edit, as a validator that cuts what the user types or pastes to
// the room left, and lets text set by the program through whole. It also remembers the text
// before each change, so a user change that leaves the text as it was notifies nothing. A
// measure of its own (the bytes a name may take) refuses a user change that would not fit.
// Private to the framework.

#include <QLineEdit>
#include <QValidator>

#include <functional>
#include <limits>
#include <string_view>

namespace fw {

class EditLimit : public QValidator {
public:
    // The limit of an edit nobody limited: the classic 30000 characters for typing.
    static constexpr int kDefaultLimit = 30000;

    explicit EditLimit(QLineEdit& edit);

    static EditLimit* Of(const QLineEdit& edit);

    void SetLimit(int chars) { limit_ = chars > 0 ? chars : std::numeric_limits<int>::max(); }
    int Limit() const { return limit_; }
    void SetFits(std::function<bool(std::u16string_view)> fits) { fits_ = std::move(fits); }
    const QString& Previous() const { return previous_; }

    // Sets the text as the program does: whole, whatever the limit.
    void SetProgramText(const QString& text);

    State validate(QString& input, int& pos) const override;

private:
    QLineEdit& edit_;
    int limit_ = kDefaultLimit;
    std::function<bool(std::u16string_view)> fits_;
    QString previous_;
    bool programSetting_ = false;
};

} // namespace fw
