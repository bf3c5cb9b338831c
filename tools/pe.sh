#!/usr/bin/env bash
# Reads and stamps the headers of PE files (Windows programs and DLLs):
#   pe.sh times <file>            the time stamps it carries, "<where> <seconds>" a line
#   pe.sh stamp <file> <seconds>  sets the PE header's time stamp, pads the file
#                                 with zeros to a multiple of 8 bytes (as signing
#                                 does) and writes its checksum
#   pe.sh layout <file>           its structures, "<offset> <length> <name>" a line
#   pe.sh where <file>            for each file offset read from standard input
#                                 (decimal, from 0), the structure it falls in
set -euo pipefail

pe_read_headers() {
    local file=$1
    pe_file=$file
    pe_size=$(stat -c %s "$file")
    mapfile -t pe_bytes < <(od -An -v -tu1 -w1 -N 8192 "$file")
    if [ "$pe_size" -lt 64 ] || [ $((pe_bytes[0])) -ne 77 ] || [ $((pe_bytes[1])) -ne 90 ]; then
        echo "$file is not a PE file" >&2
        exit 1
    fi
    pe_at=$(pe_u32 60)
    if [ $((pe_at + 24)) -gt ${#pe_bytes[@]} ] || [ "$(pe_u32 "$pe_at")" -ne 17744 ]; then  # "PE\0\0"
        echo "$file is not a PE file" >&2
        exit 1
    fi
    pe_coff=$((pe_at + 4))
    pe_sections=$(pe_u16 $((pe_coff + 2)))
    pe_opt=$((pe_coff + 20))
    pe_section_table=$((pe_opt + $(pe_u16 $((pe_coff + 16)))))
    pe_plus=0
    [ "$(pe_u16 "$pe_opt")" -ne 523 ] || pe_plus=1  # 0x20b: PE32+
    pe_checksum_at=$((pe_opt + 64))
    pe_directories=$((pe_opt + (pe_plus ? 112 : 96)))
    pe_directory_count=$(pe_u32 $((pe_directories - 4)))
}

pe_u16() { echo $((pe_bytes[$1] + pe_bytes[$1 + 1] * 256)); }
pe_u32() { echo $(($(pe_u16 "$1") + $(pe_u16 $(($1 + 2))) * 65536)); }
# A u32 beyond the headers read.
pe_file_u32() { od -An -tu4 -j "$1" -N 4 "$pe_file" | tr -d ' '; }

pe_section_name() {
    local at=$1 i name=""
    for ((i = 0; i < 8; i++)); do
        [ $((pe_bytes[at + i])) -ne 0 ] || break
        name+=$(printf "\\$(printf '%03o' $((pe_bytes[at + i])))")
    done
    echo "$name"
}

# File offset of an RVA, or nothing where no section's data holds it.
pe_rva_offset() {
    local rva=$1 i at va size raw
    for ((i = 0; i < pe_sections; i++)); do
        at=$((pe_section_table + 40 * i))
        size=$(pe_u32 $((at + 16)))
        va=$(pe_u32 $((at + 12)))
        raw=$(pe_u32 $((at + 20)))
        if [ "$rva" -ge "$va" ] && [ "$rva" -lt $((va + size)) ]; then
            echo $((rva - va + raw))
            return
        fi
    done
}

# "<offset> <rva> <size>" of data directory <index>, or nothing where it is empty.
pe_directory() {
    local index=$1 rva size
    [ "$index" -lt "$pe_directory_count" ] || return 0
    rva=$(pe_u32 $((pe_directories + 8 * index)))
    size=$(pe_u32 $((pe_directories + 8 * index + 4)))
    [ "$size" -ne 0 ] || return 0
    if [ "$index" -eq 4 ]; then
        echo "$rva $rva $size"  # the certificate table's entry is a file offset
    else
        local offset
        offset=$(pe_rva_offset "$rva")
        [ -z "$offset" ] || echo "$offset $rva $size"
    fi
}

pe_times() {
    local entry offset size i
    echo "header $(pe_u32 $((pe_coff + 4)))"
    if entry=$(pe_directory 0) && [ -n "$entry" ]; then
        read -r offset _ _ <<<"$entry"
        echo "export $(pe_file_u32 $((offset + 4)))"
    fi
    if entry=$(pe_directory 2) && [ -n "$entry" ]; then
        read -r offset _ _ <<<"$entry"
        echo "resources $(pe_file_u32 $((offset + 4)))"
    fi
    if entry=$(pe_directory 6) && [ -n "$entry" ]; then
        read -r offset _ size <<<"$entry"
        for ((i = 0; i + 28 <= size; i += 28)); do
            echo "debug $(pe_file_u32 $((offset + i + 4)))"
        done
    fi
}

pe_layout() {
    local names i at name offset size rva entry end=0
    echo "0 $pe_size the file"
    echo "0 $(pe_u32 $((pe_opt + 60))) headers"
    echo "0 64 DOS header"
    echo "60 4 DOS header e_lfanew"
    echo "64 $((pe_at - 64)) DOS stub"
    echo "$pe_at 4 PE signature"
    echo "$pe_coff 20 COFF header"
    local fields=(0 2 Machine 2 2 NumberOfSections 4 4 TimeDateStamp 8 4 PointerToSymbolTable
                  12 4 NumberOfSymbols 16 2 SizeOfOptionalHeader 18 2 Characteristics)
    for ((i = 0; i < ${#fields[@]}; i += 3)); do
        echo "$((pe_coff + fields[i])) ${fields[i + 1]} COFF header ${fields[i + 2]}"
    done
    echo "$pe_opt $((pe_section_table - pe_opt)) optional header"
    fields=(0 2 Magic 2 1 MajorLinkerVersion 3 1 MinorLinkerVersion 4 4 SizeOfCode
                  8 4 SizeOfInitializedData 12 4 SizeOfUninitializedData 16 4 AddressOfEntryPoint
                  20 4 BaseOfCode 32 4 SectionAlignment 36 4 FileAlignment 40 2 MajorOperatingSystemVersion
                  42 2 MinorOperatingSystemVersion 44 2 MajorImageVersion 46 2 MinorImageVersion
                  48 2 MajorSubsystemVersion 50 2 MinorSubsystemVersion 52 4 Win32VersionValue
                  56 4 SizeOfImage 60 4 SizeOfHeaders 64 4 CheckSum 68 2 Subsystem 70 2 DllCharacteristics)
    if [ "$pe_plus" -eq 1 ]; then
        fields+=(24 8 ImageBase 72 8 SizeOfStackReserve 80 8 SizeOfStackCommit 88 8 SizeOfHeapReserve
                 96 8 SizeOfHeapCommit 104 4 LoaderFlags 108 4 NumberOfRvaAndSizes)
    else
        fields+=(24 4 BaseOfData 28 4 ImageBase 72 4 SizeOfStackReserve 76 4 SizeOfStackCommit
                 80 4 SizeOfHeapReserve 84 4 SizeOfHeapCommit 88 4 LoaderFlags 92 4 NumberOfRvaAndSizes)
    fi
    for ((i = 0; i < ${#fields[@]}; i += 3)); do
        echo "$((pe_opt + fields[i])) ${fields[i + 1]} optional header ${fields[i + 2]}"
    done
    names=(export import resource exception certificate base-relocation debug architecture global-pointer
           TLS load-config bound-import IAT delay-import CLR reserved)
    for ((i = 0; i < pe_directory_count && i < 16; i++)); do
        echo "$((pe_directories + 8 * i)) 8 data directory entry ${names[i]}"
    done
    echo "$pe_section_table $((40 * pe_sections)) section table"
    for ((i = 0; i < pe_sections; i++)); do
        at=$((pe_section_table + 40 * i))
        name=$(pe_section_name "$at")
        echo "$at 40 section header $name"
        offset=$(pe_u32 $((at + 20)))
        size=$(pe_u32 $((at + 16)))
        if [ "$size" -gt 0 ]; then
            echo "$offset $size section $name"
            [ $((offset + size)) -le "$end" ] || end=$((offset + size))
        fi
    done
    if entry=$(pe_directory 0) && [ -n "$entry" ]; then
        read -r offset rva size <<<"$entry"
        echo "$offset $size export table"
        echo "$((offset + 4)) 4 export table TimeDateStamp"
    fi
    if entry=$(pe_directory 2) && [ -n "$entry" ]; then
        read -r offset rva size <<<"$entry"
        echo "$offset $size resources (version, manifest, icons)"
        echo "$((offset + 4)) 4 resource directory TimeDateStamp"
    fi
    if entry=$(pe_directory 6) && [ -n "$entry" ]; then
        read -r offset rva size <<<"$entry"
        echo "$offset $size debug directory"
        for ((i = 0; i + 28 <= size; i += 28)); do
            echo "$((offset + i + 4)) 4 debug directory TimeDateStamp"
        done
    fi
    local signature_at=$pe_size
    if entry=$(pe_directory 4) && [ -n "$entry" ]; then
        read -r offset rva size <<<"$entry"
        echo "$offset $size certificate table (the Authenticode signature)"
        signature_at=$offset
    fi
    [ "$signature_at" -le "$end" ] ||
        echo "$end $((signature_at - end)) data after the sections (a setup program's compressed files and script)"
}

pe_checksum() {
    # The sum of the file's 16-bit words (the checksum field left out), its
    # carries folded back, plus the file's length.
    od -An -v -tu2 -w2 "$pe_file" |
        awk -v skip=$((pe_checksum_at / 2)) -v bytes="$pe_size" '
            NR - 1 != skip && NR - 1 != skip + 1 { sum += $1 }
            END { while (sum > 65535) sum = sum % 65536 + int(sum / 65536); print sum + bytes }'
}

pe_write_u32() {
    local offset=$1 value=$2
    printf "$(printf '\\%03o' $((value & 255)) $((value >> 8 & 255)) $((value >> 16 & 255)) $((value >> 24 & 255)))" |
        dd of="$pe_file" bs=1 seek="$offset" conv=notrunc status=none
}

command=${1:-} file=${2:-}
[ -n "$file" ] || { sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2; }
pe_read_headers "$file"
case $command in
times) pe_times ;;
layout) pe_layout ;;
where)
    awk 'NR == FNR { k = n++; start[k] = $1 + 0; length_[k] = $2 + 0; $1 = $2 = ""; name[k] = substr($0, 3); next }
         { best = -1
           for (i = 0; i < n; i++)
               if ($1 >= start[i] && $1 < start[i] + length_[i] && (best < 0 || length_[i] <= length_[best])) best = i
           print best < 0 ? "beyond the end of the file" : name[best] }' <(pe_layout) - ;;
stamp)
    seconds=${3:?the time stamp in seconds}
    padding=$(((8 - pe_size % 8) % 8))
    [ "$padding" -eq 0 ] || head -c "$padding" /dev/zero >>"$file"
    pe_size=$((pe_size + padding))
    pe_write_u32 $((pe_coff + 4)) "$seconds"
    pe_write_u32 "$pe_checksum_at" "$(pe_checksum)"
    ;;
*) sed -n '2,9s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
esac
