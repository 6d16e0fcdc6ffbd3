/* What the parts of the installers' helper (setuphelper.exe) share: its exit codes, its words
 * to the administrator, the accounts it trusts, the rights it gives, and the paths it holds
 * while it examines and locks them. */
#ifndef RESKEEPER_SETUPHELPER_HELPER_H
#define RESKEEPER_SETUPHELPER_HELPER_H

#include <windows.h>

#include "product_facts.h"

/* Exit codes of the examining verbs; the refusals are the setup's own (the README's table). */
enum {
  SAFE = 0,
  ABSENT = 1, /* nothing at the path; no verb exits with it */
  UNKNOWN = RESKEEPER_HELPER_UNKNOWN,
  REPARSE = RESKEEPER_EXIT_REFUSED_LINK,
  OWNER = RESKEEPER_EXIT_REFUSED_OWNER,
  LINKS = RESKEEPER_EXIT_REFUSED_HARD_LINKS,
  FOREIGN = RESKEEPER_EXIT_REFUSED_FOREIGN,
  KIND = RESKEEPER_EXIT_REFUSED_KIND,
  MOVABLE = RESKEEPER_EXIT_REFUSED_MOVABLE,
  HELD = RESKEEPER_EXIT_REFUSED_HELD,
};

/* The longest path the helper holds, its zero included: what it cannot hold whole it refuses
 * (UNKNOWN), never takes for absent or safe. */
#define PATH_CAPACITY 1024

/* The rights the installers give (product_facts.h says what each means). */
#define FOLDER_RIGHTS RESKEEPER_FOLDER_RIGHTS_W
#define FILE_RIGHTS RESKEEPER_FILE_RIGHTS_W
#define INHERITED_FOLDER_RIGHTS RESKEEPER_INHERITED_FOLDER_RIGHTS_W
#define INHERITED_FILE_RIGHTS RESKEEPER_INHERITED_FILE_RIGHTS_W
#define EARLIER_USERS_FILE_ACCESS RESKEEPER_EARLIER_USERS_FILE_ACCESS

/* The account this helper runs as; NULL when it could not be told. */
extern PSID self;

/* The user of a process token; freed by the caller with LocalFree (desktop.c). */
PSID tokenUser(HANDLE process);

/* Writes "PATH: TEXT" as a line for the administrator to standard output (UTF-16). */
void say(const wchar_t* text, const wchar_t* path);

/* Administrators, SYSTEM, TrustedInstaller (for system folders), or the account running this
 * elevated installer (files it made unelevated are its own under some configurations). */
BOOL trusted(PSID sid);

/* ---- Held paths (hold.c) ---- */

/* LOOK examines and changes nothing; others may go on using what is looked at. LOCK holds each
 * object so that no one else may delete, rename or (a file) write it meanwhile, and fails while
 * someone else holds it so (HELD): opened with DELETE, sharing reading and, for a folder,
 * writing. A folder is opened to list what it holds in either mode. */
typedef enum { LOOK, LOCK } Mode;
typedef struct {
  HANDLE handle;
  BOOL folder;
  BOOL made; /* made by this open */
  wchar_t path[PATH_CAPACITY];
} Held;

/* Opens PATH (a full path below a local drive's root) itself, never what it points to, and
 * makes sure it is not reached through a link or junction either (its final path is PATH):
 * SAFE, ABSENT, HELD, REPARSE or UNKNOWN, said on stdout. `folder` says what is expected
 * there, which decides the access asked for; with `make`, a folder or an empty file is made
 * there with its final rights (FOLDER_RIGHTS, FILE_RIGHTS) when nothing is, held from the
 * moment it exists. */
int holdPath(const wchar_t* path, Mode mode, BOOL folder, BOOL make, Held* held);
/* Opens NAME in the folder held in PARENT, through that handle, never what it points to; as
 * holdPath() otherwise. */
int holdChild(const Held* parent, const wchar_t* name, Mode mode, BOOL folder, BOOL make,
              Held* held);
/* Closes what `held` holds (if anything). */
void letGo(Held* held);
/* Deletes what `held` holds when it is let go (it must be held with DELETE). */
BOOL deleteWhenLetGo(Held* held);

/* What `held` is: SAFE, or REPARSE (a link or junction itself), OWNER (not a trusted
 * account's), KIND (a folder where `folder` says a file, or the other way round), LINKS (a file
 * with further hard links), MOVABLE (its rights give someone untrusted one of
 * `othersMayNot`, when not 0); said on stdout, but for LINKS, which the caller says. */
int examine(const Held* held, BOOL folder, DWORD othersMayNot);
/* Whether the file held has the owner and rights only an installer gives: a trusted owner, and
 * rights for trusted accounts and for Users (at most EARLIER_USERS_FILE_ACCESS) alone. */
BOOL installersOwn(const Held* held);
/* Gives the object held its owner, group and rights (SDDL), on that very object, passing
 * nothing on to what it holds; UNKNOWN when it cannot. */
int setRights(const Held* held, const wchar_t* rights);
/* Clears the read-only attribute of the file held (LOCK). */
int clearReadOnly(const Held* held);
/* What the folder held holds, depth first, each object held in turn (in `mode`) and examined
 * as examine() does, and when locking given the rights it would inherit from a locked folder.
 * `only` (when not NULL) lists the file names the folder may hold at its top level, nothing
 * else; `skip` (when not NULL) is left out at the top level, for the caller to deal with. */
int walk(const Held* folder, Mode mode, const wchar_t* const* only, const wchar_t* skip);
/* Copies everything the file in `from` holds into the file in `to`, and makes it last. */
BOOL copyBytes(const Held* from, const Held* to);
/* Gives the file held in `file` the name NAME in the folder held in `folder`, replacing a file
 * of that name, which must not be open (retried a moment while it is); false otherwise. */
BOOL renameInto(const Held* file, const Held* folder, const wchar_t* name);

/* ---- The verbs ---- */

int checkVerb(int count, wchar_t** arguments);   /* folders.c */
int programVerb(int count, wchar_t** arguments); /* folders.c */
int sharedVerb(int count, wchar_t** arguments);  /* folders.c */
int endVerb(int count, wchar_t** arguments);     /* desktop.c */
int sameUserVerb(int count, wchar_t** arguments);
int startVerb(int count, wchar_t** arguments);
int uninstall(int count, wchar_t** arguments); /* uninstall.c */

#endif
