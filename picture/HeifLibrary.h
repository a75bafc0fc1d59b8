#pragma once

// libheif, loaded when the first HEIF or AVIF picture is decoded rather than with the
// program: it brings libde265, libx265, libaom and libdav1d with it, whose loading would
// cost every start of the saver milliseconds before its first frame, and most photo
// libraries hold no HEIF at all. The header is libheif's own; the functions are reached
// through one table filled from libheif.so.1.
#include <libheif/heif.h>

// Every libheif function the picture library calls.
#define PANTEL_HEIF_FUNCTIONS(F)                                                                                       \
    F(heif_context_alloc)                                                                                              \
    F(heif_context_free)                                                                                               \
    F(heif_context_get_primary_image_handle)                                                                           \
    F(heif_context_read_from_reader)                                                                                   \
    F(heif_decode_image)                                                                                               \
    F(heif_decoding_options_alloc)                                                                                     \
    F(heif_decoding_options_free)                                                                                      \
    F(heif_image_get_bits_per_pixel_range)                                                                             \
    F(heif_image_get_chroma_format)                                                                                    \
    F(heif_image_get_colorspace)                                                                                       \
    F(heif_image_get_height)                                                                                           \
    F(heif_image_get_plane_readonly)                                                                                   \
    F(heif_image_get_width)                                                                                            \
    F(heif_image_handle_get_color_profile_type)                                                                        \
    F(heif_image_handle_get_height)                                                                                    \
    F(heif_image_handle_get_list_of_metadata_block_IDs)                                                                \
    F(heif_image_handle_get_list_of_thumbnail_IDs)                                                                     \
    F(heif_image_handle_get_metadata)                                                                                  \
    F(heif_image_handle_get_metadata_size)                                                                             \
    F(heif_image_handle_get_nclx_color_profile)                                                                        \
    F(heif_image_handle_get_number_of_thumbnails)                                                                      \
    F(heif_image_handle_get_raw_color_profile)                                                                         \
    F(heif_image_handle_get_raw_color_profile_size)                                                                    \
    F(heif_image_handle_get_thumbnail)                                                                                 \
    F(heif_image_handle_get_width)                                                                                     \
    F(heif_image_handle_release)                                                                                       \
    F(heif_image_release)                                                                                              \
    F(heif_nclx_color_profile_free)

struct HeifLibrary
{
#define PANTEL_HEIF_MEMBER(name) decltype(&::name) name = nullptr;
    PANTEL_HEIF_FUNCTIONS(PANTEL_HEIF_MEMBER)
#undef PANTEL_HEIF_MEMBER
};

// The table, libheif loaded on the first call (from any thread); null when it cannot be
// loaded or lacks a function, and a HEIF picture is then an invalid one.
const HeifLibrary *heifLibrary();
