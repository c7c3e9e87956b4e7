; kstub08: the DOS part of a DOS-based self-extracting cabinet. The cabinet lies
; directly behind this program's bytes; the MZ header below gives the program's
; own size, so DOS loads only the program and everything after it is data. It
; tells the user that Windows is needed and where the cabinet starts, so that any
; cabinet tool can take it from there.
;
; Build: nasm -f bin -o kstub08.exe kstub08.asm

bits 16
cpu 8086

HEADER_SIZE equ 32          ; two paragraphs: the fixed fields, no relocations
STACK_SIZE  equ 512

section header start=0
        db 'MZ'
        dw FILE_SIZE % 512              ; bytes in the last 512-byte page (0: full)
        dw (FILE_SIZE + 511) / 512      ; pages in the file, the last one partial
        dw 0                            ; relocation entries
        dw HEADER_SIZE / 16             ; header size in paragraphs
        dw STACK_PARAGRAPHS             ; memory needed beyond the program
        dw STACK_PARAGRAPHS             ; and no more than that
        dw 0                            ; SS, relative to the program
        dw STACK_TOP                    ; SP
        dw 0                            ; checksum (unused)
        dw start                        ; IP
        dw 0                            ; CS, relative to the program
        dw 0x1C                         ; relocation table offset (empty)
        dw 0                            ; overlay number
        times HEADER_SIZE - ($ - $$) db 0

section program follows=header vstart=0
start:
        push cs
        pop ds
        mov dx, needsWindows
        call print
        ; The offset as a decimal number: divide the 32-bit value by 10 in two
        ; 16-bit steps per digit, collecting digits from the right.
        mov si, digitsEnd
        mov ax, FILE_SIZE & 0xFFFF
        mov dx, FILE_SIZE >> 16
        mov cx, 10
.digit:
        mov bx, ax                      ; low word
        mov ax, dx
        xor dx, dx
        div cx                          ; high word / 10
        mov di, ax                      ; high quotient
        mov ax, bx
        div cx                          ; (remainder:low word) / 10
        add dl, '0'
        dec si
        mov [si], dl
        mov dx, di
        mov bx, ax
        or bx, dx
        jnz .digit
        mov dx, si
        call print
        mov dx, howToExtract
        call print
        mov ax, 0x4C01                  ; nothing was extracted here
        int 0x21

print:                                  ; DS:DX, a '$'-terminated text
        mov ah, 0x09
        int 0x21
        ret

needsWindows:
        db "This self-extracting cabinet needs Windows to run.", 13, 10
        db "The cabinet starts at byte offset $"
digits:
        times 10 db 0
digitsEnd:
        db "$"
howToExtract:
        db " of this file;", 13, 10
        db "any cabinet tool can extract it from there", 13, 10
        db "(on Linux: cabextract FILE, or 7z x FILE).", 13, 10, "$"
programEnd:

PROGRAM_SIZE     equ programEnd - start
FILE_SIZE        equ HEADER_SIZE + PROGRAM_SIZE
STACK_TOP        equ ((PROGRAM_SIZE + 15) & ~15) + STACK_SIZE
STACK_PARAGRAPHS equ (STACK_TOP - PROGRAM_SIZE + 15) / 16 + 1
