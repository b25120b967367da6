// libqxdep.so: a library a back end needs, found only through the
// LD_LIBRARY_PATH of the process that loads the back end.
extern "C" __attribute__((visibility("default"))) int qxdep_value() { return 0; }
