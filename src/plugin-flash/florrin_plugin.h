#pragma once
// The plug-in interface as the host expects it: four C exports and a result list whose
// operation table is shared with the host (a copy of the host's declaration, by design: the
// plug-in includes nothing of the program).

extern "C" {
struct FlorrinList;
struct FlorrinListOps {
    void (*destroy)(FlorrinList* list, int flags);
    const char* (*add)(FlorrinList* list, const char* data, long length);
    const char* (*next)(FlorrinList* list);
    void (*rewind)(FlorrinList* list);
    int (*remove_first)(FlorrinList* list);
    void (*move_first_to_end)(FlorrinList* list);
    long (*count)(FlorrinList* list);
};
struct FlorrinList {
    const FlorrinListOps* ops;
};

#define FLORRIN_EXPORT __attribute__((visibility("default")))
FLORRIN_EXPORT int _module_init(void);
FLORRIN_EXPORT FlorrinList* _process_file(const char* path, const char* content_type);
FLORRIN_EXPORT void _module_done(void);
FLORRIN_EXPORT const char* _module_version(void);
}
