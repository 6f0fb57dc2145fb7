// The failure that unpacking raises besides the stream layer's exceptions:
// an archive or entry that must not be unpacked as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace kv {

class UnpackError : public std::runtime_error {
 public:
  enum class Kind {
    kDamagedArchive,  // an archive's directory breaks a bound or holds a refused name
    kDamagedEntry,    // an entry's data does not inflate to its recorded length
    kPathTooLong,     // work folder plus entry name exceed the platform's path limit
  };

  // `subject` names the archive, entry or path concerned; `detail` says
  // what is wrong with it, in one line of English.
  UnpackError(Kind kind, std::string subject, const std::string& detail)
      : std::runtime_error(subject + ": " + detail),
        kind_(kind),
        subject_(std::move(subject)),
        detail_(detail) {}

  Kind kind() const { return kind_; }
  const std::string& subject() const { return subject_; }
  const std::string& detail() const { return detail_; }

 private:
  Kind kind_;
  std::string subject_;
  std::string detail_;
};

}  // namespace kv
