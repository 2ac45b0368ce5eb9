#pragma once

#include <QString>
#include <stdexcept>

namespace vorelta {

// An error that reaches the user: a number and a description, as the error report shows them.
// Thrown by the data layer and the toolkit alike; caught only where a handler ends.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, QString description)
        : std::runtime_error(description.toStdString()),
          number_(number),
          description_(std::move(description)) {}

    int number() const { return number_; }
    const QString& description() const { return description_; }

private:
    int number_;
    QString description_;
};

}  // namespace vorelta
