; The six-word hypervisor call for 32-bit MSVC builds, as a separate file so
; that the probe's instruction can carry a public name (MantletProbeSite)
; for the exception guard. cdecl: the words' address is the one argument.
; All six general registers carry words, so the address is read again from
; the frame after the instruction; EBP is not among the words.

        .686
        .MODEL FLAT, C

PUBLIC MantletHypercall
PUBLIC MantletHypercallProbe
PUBLIC MantletProbeSite

        .CODE

MantletHypercall PROC USES ebx esi edi, words:PTR DWORD
        mov     edi, words
        mov     eax, DWORD PTR [edi]
        mov     ebx, DWORD PTR [edi+4]
        mov     ecx, DWORD PTR [edi+8]
        mov     edx, DWORD PTR [edi+12]
        mov     esi, DWORD PTR [edi+16]
        mov     edi, DWORD PTR [edi+20]
        rdpmc
        push    edi
        mov     edi, words
        mov     DWORD PTR [edi], eax
        mov     DWORD PTR [edi+4], ebx
        mov     DWORD PTR [edi+8], ecx
        mov     DWORD PTR [edi+12], edx
        mov     DWORD PTR [edi+16], esi
        pop     eax
        mov     DWORD PTR [edi+20], eax
        ret
MantletHypercall ENDP

MantletHypercallProbe PROC USES ebx esi edi, words:PTR DWORD
        mov     edi, words
        mov     eax, DWORD PTR [edi]
        mov     ebx, DWORD PTR [edi+4]
        mov     ecx, DWORD PTR [edi+8]
        mov     edx, DWORD PTR [edi+12]
        mov     esi, DWORD PTR [edi+16]
        mov     edi, DWORD PTR [edi+20]
MantletProbeSite::
        rdpmc
        push    edi
        mov     edi, words
        mov     DWORD PTR [edi], eax
        mov     DWORD PTR [edi+4], ebx
        mov     DWORD PTR [edi+8], ecx
        mov     DWORD PTR [edi+12], edx
        mov     DWORD PTR [edi+16], esi
        pop     eax
        mov     DWORD PTR [edi+20], eax
        ret
MantletHypercallProbe ENDP

        END
