/* OpenMP offload runtime stand-in: interop objects and their properties. */
#include "ovxplat/omp_interop.h"

#include <pthread.h>
#include <stdlib.h>

#define MAX_FAULTS 8

typedef struct fault {
    int prop;
    intptr_t value;
    int rc;
} fault;

typedef struct interop {
    struct interop* next;
    ovxplat_omp_interop_desc desc;
    int32_t backend_id; /* answer of vendor property 8 */
    fault faults[MAX_FAULTS];
    int fault_count;
    void (*callback)(void*, void*);
    void* callback_data;
} interop;

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static interop* objects = NULL;

/* The object when it is live; the caller holds the lock. */
static interop* find(void* handle) {
    for (interop* o = objects; o; o = o->next)
        if (o == handle) return o;
    return NULL;
}

static const fault* find_fault(const interop* o, int prop) {
    for (int i = 0; i < o->fault_count; ++i)
        if (o->faults[i].prop == prop) return &o->faults[i];
    return NULL;
}

void* ovxplat_omp_interop_create(const ovxplat_omp_interop_desc* desc) {
    if (!desc) return NULL;
    interop* o = calloc(1, sizeof *o);
    if (!o) return NULL;
    o->desc = *desc;
    o->backend_id = desc->fr_id == 6 ? 2 : 1;
    pthread_mutex_lock(&lock);
    o->next = objects;
    objects = o;
    pthread_mutex_unlock(&lock);
    return o;
}

void ovxplat_omp_interop_destroy(void* handle) {
    pthread_mutex_lock(&lock);
    for (interop** p = &objects; *p; p = &(*p)->next) {
        if (*p == handle) {
            interop* o = *p;
            *p = o->next;
            free(o);
            break;
        }
    }
    pthread_mutex_unlock(&lock);
}

int ovxplat_omp_interop_set_result(void* handle, int prop, intptr_t value, int rc) {
    int result = -1;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    if (o) {
        fault* f = (fault*)find_fault(o, prop);
        if (!f && o->fault_count < MAX_FAULTS) f = &o->faults[o->fault_count++];
        if (f) {
            f->prop = prop;
            f->value = value;
            f->rc = rc;
            result = 0;
        }
    }
    pthread_mutex_unlock(&lock);
    return result;
}

void* ovxplat_omp_interop_callback(void* handle, void** data) {
    void* cb = NULL;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    if (o) {
        cb = (void*)o->callback;
        if (data) *data = o->callback_data;
    }
    pthread_mutex_unlock(&lock);
    return cb;
}

static void set_rc(int* rc, int v) {
    if (rc) *rc = v;
}

intptr_t omp_get_interop_int(void* handle, int prop, int* rc) {
    intptr_t v = 0;
    int code = 0;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    const fault* f = o ? find_fault(o, prop) : NULL;
    if (!o) code = -1;
    else if (f) { v = f->value; code = f->rc; }
    else if (prop == -1) v = o->desc.fr_id;
    else if (prop == -5) v = 0;
    else if (prop == 10) v = o->desc.immediate_list;
    else if (prop == -2 || prop == -4) code = -5;
    else if (prop <= -6 && prop >= -9) code = -4;
    else code = -2;
    pthread_mutex_unlock(&lock);
    set_rc(rc, code);
    return v;
}

void* omp_get_interop_ptr(void* handle, int prop, int* rc) {
    void* v = NULL;
    int code = 0;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    const fault* f = o ? find_fault(o, prop) : NULL;
    if (!o) code = -1;
    else if (f) { v = (void*)f->value; code = f->rc; }
    else if (prop == -6) v = o->desc.platform;
    else if (prop == -7) v = o->desc.device;
    else if (prop == -8) v = o->desc.context;
    else if (prop == -9) v = o->desc.targetsync;
    else if (prop == -1 || prop == -5 || prop == 10) code = -3;
    else if (prop == -2 || prop == -4) code = -5;
    else code = -2;
    pthread_mutex_unlock(&lock);
    set_rc(rc, code);
    return v;
}

static const char* fr_name(int id) {
    switch (id) {
        case 3: return "opencl";
        case 4: return "sycl";
        case 6: return "level_zero";
        default: return "unknown";
    }
}

const char* omp_get_interop_str(void* handle, int prop, int* rc) {
    const char* v = NULL;
    int code = 0;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    const fault* f = o ? find_fault(o, prop) : NULL;
    if (!o) code = -1;
    else if (f) { v = (const char*)f->value; code = f->rc; }
    else if (prop == -2) v = fr_name(o->desc.fr_id);
    else if (prop == -4) v = "ovxplat";
    else if (prop == -1 || prop == -5 || prop == 10) code = -3;
    else if (prop <= -6 && prop >= -9) code = -4;
    else code = -2;
    pthread_mutex_unlock(&lock);
    set_rc(rc, code);
    return v;
}

int __tgt_get_interop_property(void* handle, int prop, void** value) {
    int code = 0;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    const fault* f = o ? find_fault(o, prop) : NULL;
    void* v = NULL;
    if (!o || !value) code = -1;
    else if (f) { v = (void*)f->value; code = f->rc; }
    else if (prop == 5) v = o->desc.targetsync;
    else if (prop == 6) v = o->desc.fr_id == 3 ? o->desc.context : NULL;
    else if (prop == 7) v = o->desc.device;
    else if (prop == 8) v = &o->backend_id;
    else if (prop == 9) v = o->desc.fr_id == 6 ? o->desc.context : NULL;
    else code = -2;
    if (code == 0) *value = v;
    pthread_mutex_unlock(&lock);
    return code;
}

#ifndef OVXPLAT_OMP_PARTIAL
int ompx_interop_add_completion_callback(void* handle, void (*cb)(void*, void*), void* data) {
    int code = -1;
    pthread_mutex_lock(&lock);
    interop* o = find(handle);
    if (o) {
        o->callback = cb;
        o->callback_data = data;
        code = 0;
    }
    pthread_mutex_unlock(&lock);
    return code;
}
#endif
