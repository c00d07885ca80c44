// The trust check on Windows: the places a service loads from or writes to, each with
// the folders above it up to the root, read without following a link and judged by
// trust/verdict.h. The platform calls stay here; the verdict stays pure.
#pragma once

#include <stddef.h>

#include "trust/verdict.h"

enum {
    kPlacePathBytes = 1024,  // a place's full path, terminator included
    kMaxPlaces = 64,         // places of one check, the folders above them included
};

struct Place {
    char path[kPlacePathBytes];
    PlaceKind kind;
};

// What one check judges. Fill it with AddPlace only.
struct PlaceList {
    int count;
    Place places[kMaxPlaces];
    // A place that did not fit (too many, or too long a path): it cannot be judged, so
    // the check counts it. The first one lost; empty when none was.
    char lost[kPlacePathBytes];
};

// Empties list.
void ClearPlaces(PlaceList* list);
// Adds path (a full path) as a place of kind and every folder above it, up to the root,
// as kPlaceAncestor; a place already in the list keeps the stronger kind. A place that
// does not exist when the check runs is passed over, its folders above are judged.
void AddPlace(PlaceList* list, const char* path, PlaceKind kind);
// Adds file (a full path) as a kPlaceFile and the folder that holds it as a kPlaceFolder,
// each with the folders above.
void AddFileAndFolder(PlaceList* list, const char* file);

// Told about each unsafe place: its path and why, either "can be changed by <accounts>"
// (each as DOMAIN\name, the name alone, or the SID as text when it has none) or the
// error that kept its descriptor from being read.
typedef void (*UnsafePlaceFunction)(const char* path, const char* why, void* context);

// Judges every place of list for the account this process runs as and the service
// serviceName (its service SID is trusted too); a place that is a symbolic link or a
// junction is judged itself, and the place it leads to is added and judged as well.
// Calls unsafe (when not null) once for each unsafe place, in the list's order; returns
// how many there were.
int CheckPlaces(PlaceList* list, const char* serviceName, UnsafePlaceFunction unsafe,
                void* context);
