#ifndef VOSK_RDD_EXPRESSION_GLUE_H_
#define VOSK_RDD_EXPRESSION_GLUE_H_

namespace vosk {

// Installs the engine's side of the expression language: field access and the work-area
// functions (RECNO, EOF, FIELDGET, ...) through DatabaseAccess, and the compiler of filter and
// scope conditions. Called by InitDatabaseEngine.
void InstallExpressionGlue();

}  // namespace vosk

#endif  // VOSK_RDD_EXPRESSION_GLUE_H_
