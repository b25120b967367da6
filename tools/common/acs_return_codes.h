// DB2's published ACS return codes, 0 to 34, in their published order:
// the one table from which acs-host, acs-doctor and the manual pages
// name a code. A code outside the table has no published name.
#ifndef ACS_RETURN_CODES_H
#define ACS_RETURN_CODES_H

#define ACS_RETURN_CODES(X)                                                                    \
  X(0, OK) X(1, LINK_EXIST) X(2, COMM_ERROR) X(3, INV_VERSION) X(4, INV_ACTION)                \
  X(5, NO_DEV_AVAIL) X(6, OBJ_NOT_FOUND) X(7, OBJS_FOUND) X(8, INV_USERID)                     \
  X(9, INV_PASSWORD) X(10, INV_OPTIONS) X(11, INIT_FAILED) X(12, INV_DEV_HANDLE)               \
  X(13, BUFF_SIZE) X(14, END_OF_DATA) X(15, END_OF_TAPE) X(16, DATA_RESEND)                    \
  X(17, COMMIT_FAILED) X(18, DEV_ERROR) X(19, WARNING) X(20, LINK_NOT_EXIST)                   \
  X(21, MORE_DATA) X(22, ENDOFMEDIA_NO_DATA) X(23, ENDOFMEDIA) X(24, MAX_LINK_GRANT)           \
  X(25, IO_ERROR) X(26, DELETE_FAILED) X(27, INV_BKUP_FNAME) X(28, NOT_ENOUGH_SPACE)           \
  X(29, ABORT_FAILED) X(30, UNEXPECTED_ERROR) X(31, NO_DATA) X(32, OBJ_OUT_OF_SCOPE)           \
  X(33, INV_CALL_SEQUENCE) X(34, SHARED_STORAGE_GROUP)

enum AcsReturnCode {
#define ACS_RC_ENUM(Value, Name) DB2ACS_RC_##Name = Value,
  ACS_RETURN_CODES(ACS_RC_ENUM)
#undef ACS_RC_ENUM
};

// "DB2ACS_RC_END_OF_DATA" for 14; null for a code with no published name.
inline const char *acsReturnCodeName(int rc) {
  switch (rc) {
#define ACS_RC_CASE(Value, Name) \
  case Value: return "DB2ACS_RC_" #Name;
    ACS_RETURN_CODES(ACS_RC_CASE)
#undef ACS_RC_CASE
  }
  return nullptr;
}

#endif
