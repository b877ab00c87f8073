#ifndef VOSK_TRANSFER_REGISTER_H_
#define VOSK_TRANSFER_REGISTER_H_

namespace vosk {

// Registers the transfer drivers that live outside the table engine (SQLITE, XLSX). Call once
// at start-up, after the engine's own drivers; safe to call again.
void RegisterTransferDrivers();

}  // namespace vosk

#endif  // VOSK_TRANSFER_REGISTER_H_
