#ifndef VOSK_EXPR_STATUS_H_
#define VOSK_EXPR_STATUS_H_

namespace vosk {

// Result of a driver operation. A failure has already been reported through the error system
// (RaiseError); callers only pass it on.
enum class [[nodiscard]] Status { kSuccess, kFailure };

inline constexpr Status kSuccess = Status::kSuccess;
inline constexpr Status kFailure = Status::kFailure;

inline bool Ok(Status s) { return s == Status::kSuccess; }
inline bool Failed(Status s) { return s != Status::kSuccess; }

}  // namespace vosk

#endif  // VOSK_EXPR_STATUS_H_
