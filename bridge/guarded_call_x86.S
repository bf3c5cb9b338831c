/* int VornGuardedFrame(GuardedBody body, void* context, GuardedFault* fault)
   Calls body(context) under an exception registration of its own, whose
   handler (VornGuardHandler, guarded_call.cpp) resumes at
   vorn_guarded_fault below, with this frame's stack, when the body faults.
   Returns 0 after the body returned, 1 after a fault. cdecl. */

    .text
    .globl _VornGuardedFrame
    .globl _vorn_guarded_fault
_VornGuardedFrame:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    /* The registration: next, handler, and this frame's %ebp, by which the
       handler finds `fault` and the resumption finds the saved registers. */
    pushl %ebp
    pushl $_VornGuardHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    xorl %eax, %eax
vorn_guarded_leave:
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $12, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

/* Entered from the handler with %esp at the registration and %ebp this
   frame's, once the frames above it have been unwound. */
_vorn_guarded_fault:
    movl $1, %eax
    jmp vorn_guarded_leave
