#pragma once

#include <QString>

#include <functional>

// How a flow tells the operator something: by default a modal message box
// without parent showing one sentence and an OK button. Flows take the sink as
// a function so that their unit tests can record the sentences instead.
class OperatorMessage
{
public:
    using Sink = std::function<void(const QString &text)>;

    static void showBox(const QString &text);
    static Sink modalBox() { return &OperatorMessage::showBox; }
};
