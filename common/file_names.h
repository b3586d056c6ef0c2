// The fixed file names every program reads and writes, spelled here only.
//
//   aniv00.3d      the vertex animation file frameconv and clipmerge write
//   data00.3d      the mesh file frameconv writes
//   anima000.obj   the first frame file; the frame number is three decimal
//                  digits from kFrameDigitsAt on, up to anima999.obj
//   a1.3d .. a67.3d  the clips clipmerge joins: "a" + the clip number in
//                  decimal without leading zeros + ".3d"
//   clips.json     the index of a clip set that the Blender add-on writes
//                  beside the merged aniv00.3d: each clip's name and frames
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kVertexAnimationName[] = "aniv00.3d";
constexpr char kMeshName[] = "data00.3d";
constexpr char kClipsName[] = "clips.json";

constexpr char kFirstFrameName[] = "anima000.obj";
constexpr size_t kFrameNameBytes = sizeof kFirstFrameName;
constexpr size_t kFrameDigitsAt = 5;
constexpr size_t kFrameDigitCount = 3;
constexpr uint32_t kFrameLimit = 1000;

// A printf format of one int, the clip number.
constexpr char kClipNameFormat[] = "a%d.3d";
