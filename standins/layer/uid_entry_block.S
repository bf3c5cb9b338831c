/* The entry of getMediapadUID opens a block laid out by hand, so that the
   patch marks lie at the distances from it at which the plug-in looks:
   the UTF-16LE name of the proxy library at 78644 and "Patx" at 78672.
   The entry itself only jumps to the real function. Variants of the layer
   carry other texts there (LAYER_MARKS_UNPATCHED, LAYER_MARKS_HALF). */

    .section .text$mediapad_uid_entry, "xr"
    .globl _getMediapadUID
_getMediapadUID:
    jmp _LayerGetMediapadUID

    .org 78644, 0xCC
#if defined(LAYER_MARKS_UNPATCHED) || defined(LAYER_MARKS_HALF)
    /* "KHALAPI.dll", the vendor library that the original layer loads */
    .short 0x4B, 0x48, 0x41, 0x4C, 0x41, 0x50, 0x49, 0x2E, 0x64, 0x6C, 0x6C, 0
#else
    /* "VornApx.dll" */
    .short 0x56, 0x6F, 0x72, 0x6E, 0x41, 0x70, 0x78, 0x2E, 0x64, 0x6C, 0x6C, 0
#endif

    .org 78672, 0xCC
#if defined(LAYER_MARKS_UNPATCHED)
    /* "Orig" */
    .short 0x4F, 0x72, 0x69, 0x67, 0
#else
    /* "Patx" */
    .short 0x50, 0x61, 0x74, 0x78, 0
#endif
