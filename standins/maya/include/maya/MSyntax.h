// Stand-in for a command's syntax: the flags and arguments it accepts.
#pragma once

class MSyntax {
 public:
  unsigned int flagCount() const { return flags_; }
  unsigned int argumentCount() const { return arguments_; }

 private:
  unsigned int flags_ = 0;
  unsigned int arguments_ = 0;
};
