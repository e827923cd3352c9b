; The six-word hypervisor call for 64-bit MSVC builds, which have no inline
; assembly. Both procedures take the words' address in RCX (Microsoft x64
; calling convention) and keep it in R8, which the call leaves alone.
; MantletProbeSite names the probe's own rdpmc for the exception guard.

PUBLIC MantletHypercall
PUBLIC MantletHypercallProbe
PUBLIC MantletProbeSite

_TEXT SEGMENT

MantletHypercall PROC FRAME
        push    rbx
        .pushreg rbx
        push    rsi
        .pushreg rsi
        push    rdi
        .pushreg rdi
        .endprolog
        mov     r8, rcx
        mov     eax, DWORD PTR [r8]
        mov     ebx, DWORD PTR [r8+4]
        mov     ecx, DWORD PTR [r8+8]
        mov     edx, DWORD PTR [r8+12]
        mov     esi, DWORD PTR [r8+16]
        mov     edi, DWORD PTR [r8+20]
        rdpmc
        mov     DWORD PTR [r8], eax
        mov     DWORD PTR [r8+4], ebx
        mov     DWORD PTR [r8+8], ecx
        mov     DWORD PTR [r8+12], edx
        mov     DWORD PTR [r8+16], esi
        mov     DWORD PTR [r8+20], edi
        pop     rdi
        pop     rsi
        pop     rbx
        ret
MantletHypercall ENDP

MantletHypercallProbe PROC FRAME
        push    rbx
        .pushreg rbx
        push    rsi
        .pushreg rsi
        push    rdi
        .pushreg rdi
        .endprolog
        mov     r8, rcx
        mov     eax, DWORD PTR [r8]
        mov     ebx, DWORD PTR [r8+4]
        mov     ecx, DWORD PTR [r8+8]
        mov     edx, DWORD PTR [r8+12]
        mov     esi, DWORD PTR [r8+16]
        mov     edi, DWORD PTR [r8+20]
MantletProbeSite::
        rdpmc
        mov     DWORD PTR [r8], eax
        mov     DWORD PTR [r8+4], ebx
        mov     DWORD PTR [r8+8], ecx
        mov     DWORD PTR [r8+12], edx
        mov     DWORD PTR [r8+16], esi
        mov     DWORD PTR [r8+20], edi
        pop     rdi
        pop     rsi
        pop     rbx
        ret
MantletHypercallProbe ENDP

_TEXT ENDS

END
