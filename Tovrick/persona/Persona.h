#pragma once

#include <QString>

// The character's persona: the opening of every model turn's instructions and the voice of the coding
// agent's news lines. A library of its own so the assistant host and the coding-agent bridge both
// reach it without reaching each other.
namespace persona {

// The user's "personality" setting when it holds more than white space, otherwise the built-in one.
QString current();

} // namespace persona
