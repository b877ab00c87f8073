#ifndef VOSK_EXPR_EXPR_ERRORS_H_
#define VOSK_EXPR_EXPR_ERRORS_H_

// Subcodes raised by the expression language (subsystem "BASE"). Operators and functions
// report wrong operand types as "Argument error" (general 1) with their own subcode and their
// text or name as operation.
namespace vosk {

enum ExprSubCode : int {
  kSubUndefinedFunction = 1001,  // 12 "Undefined function"
  kSubNoAlias = 1002,            // 15 "Alias does not exist"
  kSubNoVariable = 1003,         // 14 "Variable does not exist"
  kSubIifCondition = 1066,       // IIF / IF with a condition that is not logical
  kSubArrayAccess = 1068,        // [] on a value that is not an array, or a bad index
  kSubArrayAssign = 1069,
  kSubExactEqual = 1070,         // ==
  kSubEqual = 1071,              // =
  kSubNotEqual = 1072,           // != <> #
  kSubLess = 1073,
  kSubLessEqual = 1074,
  kSubGreater = 1075,
  kSubGreaterEqual = 1076,
  kSubNot = 1077,
  kSubAnd = 1078,
  kSubOr = 1079,
  kSubNegate = 1080,  // unary - and +
  kSubPlus = 1081,
  kSubMinus = 1082,
  kSubMultiply = 1083,
  kSubDivide = 1084,
  kSubModulus = 1085,
  kSubIncrement = 1086,
  kSubDecrement = 1087,
  kSubPower = 1088,
  kSubContains = 1109,  // $
  kSubTypeArgument = 1121,
  kSubBoundAccess = 1132,  // 2 "Bound error": index outside the array
  kSubBoundAssign = 1133,
  kSubLike = 1135,
  kSubHas = 1136,
  kSubIn = 1137,
  kSubBitOr = 1138,
  kSubBitXor = 1139,
  kSubShiftLeft = 1140,
  kSubShiftRight = 1141,
  kSubSelfReference = 1142,  // storing a value into an array or parameter that it contains
  kSubStringOverflowPlus = 1209,   // 3 "String overflow"
  kSubStringOverflowMinus = 1210,
  kSubStringOverflowFunction = 1234,  // a function's result would exceed the string limit
  kSubZeroDivide = 1340,           // 5 "Zero divisor"
  kSubZeroModulus = 1341,
  kSubSyntax = 1449,               // 7 "Syntax error" (compile failures)
  kSubTooComplex = 1450,           // 8 "Operation too complex" (nesting limits)
  kSubFunctionArgument = 3012,     // functions without a subcode of their own
};

}  // namespace vosk

#endif  // VOSK_EXPR_EXPR_ERRORS_H_
