/* Public interface of libziplib.so: the records passed to ZipLibExec and to the
 * caller's callback. The field order follows the original 32-bit records; on this
 * platform text and code pointers are 64 bits wide, so the offsets below are the
 * natural x86-64 (LP64) offsets of that order and differ from the 32-bit ones.
 * Both the library and the archiver include this header, and every offset is
 * checked at compile time, so the two sides cannot drift apart. */
#ifndef TARNWICK_ZIPLIB_H
#define TARNWICK_ZIPLIB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Version reported by GetZipLibVersion and expected in ZipCommand.version. */
#define ZIPLIB_VERSION 160
/* Versions that choose the command form. */
#define ZIPLIB_SHORT_FORM_MIN 151
#define ZIPLIB_EXTENDED_MIN 160
#define ZIPLIB_CHECK_WORD 7
#define ZIPLIB_MAX_LONG_SPECS 4097
#define ZIPLIB_TEXT_SIZE 512

/* 32-bit booleans are -1 for true, 0 for false; 16-bit ones 0xFFFF / 0, except
 * the archive-bit flags of the short form, which use 1. */
#define ZIPLIB_TRUE32 (-1)
#define ZIPLIB_TRUE16 ((uint16_t)0xFFFF)
/* ZipFileSpec.encrypt when the line carries a password of its own. */
#define ZIPLIB_SPEC_OWN_PASSWORD 0x0000FFFF

/* Action codes of ZipCallbackData.action. */
enum {
    ZIPLIB_ACTION_NEW_FILE = 1, /* text: name, size: file size */
    ZIPLIB_ACTION_PROGRESS = 2, /* size: bytes done since the last report */
    ZIPLIB_ACTION_END_BATCH = 3,
    ZIPLIB_ACTION_MESSAGE = 4,      /* text: message, code: error code or 0 */
    ZIPLIB_ACTION_TOTAL_FILES = 5,  /* size: number of files */
    ZIPLIB_ACTION_TOTAL_SIZE = 6,   /* size: bytes to do (clamped to INT32_MAX) */
    ZIPLIB_ACTION_NEW_NAME = 7,     /* text: name; answer code 1 and text = new name */
    ZIPLIB_ACTION_PASSWORD = 8,     /* code bit 0: confirm; size: repeat count */
    ZIPLIB_ACTION_CRC_ERROR = 9,    /* extraction only; never sent by this library */
    ZIPLIB_ACTION_OVERWRITE = 10,   /* extraction only; never sent */
    ZIPLIB_ACTION_SKIPPED = 11,     /* extraction only; never sent */
    ZIPLIB_ACTION_FILE_COMMENT = 12 /* text: name; answer code 1 and text = comment */
};

/* Error codes carried in ZipCallbackData.code of a message (low byte), as the
 * exit codes of the common zip tools. */
enum {
    ZIPLIB_OK = 0,
    ZIPLIB_E_EOF = 2,
    ZIPLIB_E_FORMAT = 3,
    ZIPLIB_E_MEMORY = 4,
    ZIPLIB_E_LOGIC = 5,
    ZIPLIB_E_BIG = 6,
    ZIPLIB_E_ABORT = 9,
    ZIPLIB_E_TEMP = 10,
    ZIPLIB_E_READ = 11,
    ZIPLIB_E_NONE = 12,
    ZIPLIB_E_NAME = 13,
    ZIPLIB_E_WRITE = 14,
    ZIPLIB_E_CREATE = 15,
    ZIPLIB_E_PARMS = 16,
    ZIPLIB_E_OPEN = 18
};

typedef struct ZipCallbackData ZipCallbackData;
/* Returns 0 to go on, -1 to stop the operation. */
typedef int32_t (*ZipCallbackFn)(ZipCallbackData* data);

/* Common head of the command record (160 bytes). */
typedef struct ZipCommandHead {
    void* owner_window;       /*   0 */
    void* caller;             /*   8 */
    int32_t version;          /*  16 */
    int32_t reserved_20;      /*  20 alignment */
    ZipCallbackFn callback;   /*  24 */
    int32_t trace;            /*  32 */
    int32_t reserved_36;      /*  36 alignment */
    char* password;           /*  40 */
    char* store_suffixes;     /*  48 ".gif:.png:..." */
    int32_t encrypt;          /*  56 */
    int32_t system_files;     /*  60 */
    int32_t volume_label;     /*  64 */
    int32_t extra_attributes; /*  68 */
    int32_t no_dir_entries;   /*  72 */
    int32_t date_filter;      /*  76 */
    int32_t verbose;          /*  80 */
    int32_t quiet;            /*  84 */
    int32_t level;            /*  88 */
    int32_t compress_special; /*  92 */
    int32_t eol_translation;  /*  96 */
    int32_t junk_dirs;        /* 100 */
    uint16_t recurse;         /* 104 */
    uint16_t reserved_106;    /* 106 */
    int32_t grow;             /* 108 */
    int32_t force_dos;        /* 112 */
    int32_t move;             /* 116 */
    int32_t delete_entries;   /* 120 */
    int32_t update;           /* 124 */
    int32_t freshen;          /* 128 */
    int32_t junk_sfx;         /* 132 */
    int32_t latest_time;      /* 136 */
    unsigned char date[8];    /* 140 */
    int32_t spec_count;       /* 148 */
    char* archive_name;       /* 152 */
} ZipCommandHead;             /* 160 */

/* Long form, for library versions below 151 (32,944 bytes). */
typedef struct ZipCommandLong {
    ZipCommandHead head;                /*   0 */
    int32_t check;                      /* 160 = 7 */
    int32_t reserved_164;               /* 164 alignment */
    char* specs[ZIPLIB_MAX_LONG_SPECS]; /* 168, raw lines */
} ZipCommandLong;                       /* 32,944 */

/* One file entry of the short form (120 bytes). */
typedef struct ZipFileSpec {
    char* file_spec;               /*   0 */
    unsigned char reserved_8[8];   /*   8 */
    char* password;                /*  16 */
    int32_t encrypt;               /*  24 -1, 0 or ZIPLIB_SPEC_OWN_PASSWORD */
    uint16_t recurse;              /*  28 */
    unsigned char reserved_30[14]; /* 30 */
    char* root_dir;                /*  48 (44 rounded up to pointer alignment) */
    unsigned char reserved_56[64]; /* 56 */
} ZipFileSpec;                     /* 120 */

/* Short form, for library versions 151 and above (272 bytes). */
typedef struct ZipCommandShort {
    ZipCommandHead head;            /*   0 */
    char* temp_dir;                 /* 160 */
    char* archive_comment;          /* 168 (160+) */
    uint16_t archive_only;          /* 176 (160+) 1 = true */
    uint16_t reset_archive;         /* 178 (160+) 1 = true */
    int32_t reserved_180;           /* 180 alignment */
    ZipFileSpec* specs;             /* 184 */
    int32_t reserved_192;           /* 192 */
    int32_t exclusion_count;        /* 196 (160+) */
    char** exclusions;              /* 200 (160+) */
    unsigned char reserved_208[56]; /* 208 */
    int32_t check;                  /* 264 = 7 */
    int32_t reserved_268;           /* 268 tail padding made explicit */
} ZipCommandShort;                  /* 272 */

/* The record handed to the callback (552 bytes). The original placed the
 * comment character at 284, inside its own 512-byte text; here it follows the
 * text so that a long text cannot overwrite it. */
struct ZipCallbackData {
    int32_t reserved_0;            /*   0 */
    int32_t reserved_4;            /*   4 alignment */
    void* caller;                  /*   8 */
    unsigned char reserved_16[8];  /*  16 */
    int32_t action;                /*  24 */
    int32_t code;                  /*  28 */
    int32_t size;                  /*  32 */
    char text[ZIPLIB_TEXT_SIZE];   /*  36 */
    char comment_char;             /* 548 */
    unsigned char reserved_549[3]; /* 549 */
};                                 /* 552 */

/* Entry points. ZipLibExec takes either form of the command (it tells them apart by
 * the check word) and returns the number of files added, 0 when nothing was added or
 * the operation failed or was stopped. */
int32_t ZipLibExec(void* command);
int32_t GetZipLibVersion(void);

typedef int32_t (*ZipLibExecFn)(void* command);
typedef int32_t (*GetZipLibVersionFn)(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout is part of the interface; check it wherever the header is used. */
#ifdef __cplusplus
#define ZIPLIB_ASSERT(c, m) static_assert(c, m)
#else
#define ZIPLIB_ASSERT(c, m) _Static_assert(c, m)
#endif
ZIPLIB_ASSERT(sizeof(void*) == 8, "offsets below are for 64-bit pointers");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, caller) == 8, "caller");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, version) == 16, "version");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, callback) == 24, "callback");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, trace) == 32, "trace");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, password) == 40, "password");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, store_suffixes) == 48, "store suffixes");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, encrypt) == 56, "encrypt");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, system_files) == 60, "system files");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, volume_label) == 64, "volume label");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, extra_attributes) == 68, "extra attributes");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, no_dir_entries) == 72, "no dir entries");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, date_filter) == 76, "date filter");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, verbose) == 80, "verbose");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, quiet) == 84, "quiet");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, level) == 88, "level");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, compress_special) == 92, "compress special");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, eol_translation) == 96, "eol");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, junk_dirs) == 100, "junk dirs");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, recurse) == 104, "recurse");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, grow) == 108, "grow");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, force_dos) == 112, "force dos");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, move) == 116, "move");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, delete_entries) == 120, "delete");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, update) == 124, "update");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, freshen) == 128, "freshen");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, junk_sfx) == 132, "junk sfx");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, latest_time) == 136, "latest time");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, date) == 140, "date");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, spec_count) == 148, "file_spec count");
ZIPLIB_ASSERT(offsetof(ZipCommandHead, archive_name) == 152, "archive name");
ZIPLIB_ASSERT(sizeof(ZipCommandHead) == 160, "head size");
ZIPLIB_ASSERT(offsetof(ZipCommandLong, check) == 160, "long check");
ZIPLIB_ASSERT(offsetof(ZipCommandLong, specs) == 168, "long specs");
ZIPLIB_ASSERT(sizeof(ZipCommandLong) == 32944, "long size");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, temp_dir) == 160, "temp dir");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, archive_comment) == 168, "comment");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, archive_only) == 176, "archive only");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, reset_archive) == 178, "reset archive");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, specs) == 184, "specs");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, exclusion_count) == 196, "exclusion count");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, exclusions) == 200, "exclusions");
ZIPLIB_ASSERT(offsetof(ZipCommandShort, check) == 264, "short check");
ZIPLIB_ASSERT(sizeof(ZipCommandShort) == 272, "short size");
ZIPLIB_ASSERT(offsetof(ZipFileSpec, password) == 16, "file_spec password");
ZIPLIB_ASSERT(offsetof(ZipFileSpec, encrypt) == 24, "file_spec encrypt");
ZIPLIB_ASSERT(offsetof(ZipFileSpec, recurse) == 28, "file_spec recurse");
ZIPLIB_ASSERT(offsetof(ZipFileSpec, root_dir) == 48, "file_spec root");
ZIPLIB_ASSERT(sizeof(ZipFileSpec) == 120, "file_spec size");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, caller) == 8, "cb caller");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, action) == 24, "cb action");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, code) == 28, "cb code");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, size) == 32, "cb size");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, text) == 36, "cb text");
ZIPLIB_ASSERT(offsetof(ZipCallbackData, comment_char) == 548, "cb comment char");
ZIPLIB_ASSERT(sizeof(ZipCallbackData) == 552, "cb size");
#undef ZIPLIB_ASSERT

#endif
